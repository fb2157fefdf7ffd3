#include "service/shell/Registration.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "PelorinIOXml.h"
#include "api/BusApi.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFile.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppId = "{6C1E3A52-94D7-4B3E-9F0A-2D8C5B7E41A9}";
constexpr const char* kTypeLib = "{3B0D6F18-27A4-4C59-8E61-5F9A0C2D7B34}";
constexpr const char* kServiceUser = "plx";

struct ClassEntry {
    const char* name;
    const char* clsid;
    const char* help;
};
constexpr ClassEntry kClasses[] = {
    {"Client", "{A4D2C6E1-5B38-4F7A-9C02-6E1B3D8F5A70}", "Client Class"},
    {"Transport", "{B7E1F3A9-2C64-4D85-8A1E-0F9C7B5D3E62}", "Transport Class"},
    {"Retrieve", "{C9F4A2B6-7D13-4E58-B0C7-1A2E8D6F4B95}", "Retrieve Class"},
};

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    fs::path temp = createUniqueFile(path.parent_path(), ".plx", 0644);
    ScopedFileRemoval removeTemp(temp);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
    }
    fs::permissions(temp, fs::perms(0644));
    fs::rename(temp, path);
    removeTemp.release();
}

void removeFile(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec); // a file that is not there is already removed
    if (ec) throw std::system_error(ec, "remove " + path.string());
}

std::string activationFile(const fs::path& program, bool system, bool asService) {
    std::string text = std::string("[D-BUS Service]\nName=") + kBusName + "\nExec=" + program.string() + "\n";
    if (system) text += std::string("User=") + kServiceUser + "\n";
    if (system && asService) text += "SystemdService=plserv.service\n";
    return text;
}

std::string policyFile() {
    return std::string("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
                       "  <policy user=\"") +
           kServiceUser + "\">\n    <allow own=\"" + kBusName + "\"/>\n  </policy>\n" +
           "  <policy context=\"default\">\n    <allow send_destination=\"" + kBusName + "\"/>\n  </policy>\n" +
           "</busconfig>\n";
}

std::string unitFile(const fs::path& program) {
    return std::string("[Unit]\nDescription=Korvane/PLX file delivery and collection service\n"
                       "After=dbus.service\n\n[Service]\nType=dbus\nBusName=") +
           kBusName + "\nExecStart=" + program.string() + "\nEnvironment=PLX_BUS=system\nUser=" + kServiceUser +
           "\nNotifyAccess=main\nAmbientCapabilities=CAP_NET_BIND_SERVICE\nPrivateTmp=yes\nTimeoutStopSec=30\n";
}

void reloadSystemd(const InstallLayout& layout) {
    if (layout.unit.string().rfind("/etc/", 0) == 0 && ::access("/usr/bin/systemctl", X_OK) == 0 &&
        ::access("/run/systemd/system", F_OK) == 0)
        (void)std::system("/usr/bin/systemctl daemon-reload >/dev/null 2>&1");
}

void writeRegistry(const fs::path& program, bool asService) {
    updateProfile(registryStorePath(), [&](IniDocument& reg) {
        reg.set(kAppIdSection, "@", kServiceName);
        reg.removeKey(kAppIdSection, "LocalService");
        reg.removeKey(kAppIdSection, "ServiceParameters");
        if (asService) {
            reg.set(kAppIdSection, "LocalService", "Korvane/PLX");
            reg.set(kAppIdSection, "ServiceParameters", "-Service");
        }
        reg.set("HKEY_CLASSES_ROOT\\AppID\\PelorinIO.EXE", "AppID", kAppId);
        for (const auto& c : kClasses) {
            std::string progId = std::string("PelorinIO.") + c.name;
            std::string versioned = progId + ".1";
            std::string clsidKey = std::string("HKEY_CLASSES_ROOT\\CLSID\\") + c.clsid;
            reg.set("HKEY_CLASSES_ROOT\\" + versioned, "@", c.help);
            reg.set("HKEY_CLASSES_ROOT\\" + versioned, "CLSID", c.clsid);
            reg.set("HKEY_CLASSES_ROOT\\" + progId, "@", c.help);
            reg.set("HKEY_CLASSES_ROOT\\" + progId, "CLSID", c.clsid);
            reg.set("HKEY_CLASSES_ROOT\\" + progId, "CurVer", versioned);
            reg.set(clsidKey, "@", c.help);
            reg.set(clsidKey, "ProgID", versioned);
            reg.set(clsidKey, "VersionIndependentProgID", progId);
            reg.set(clsidKey, "LocalServer32", program.string());
            reg.set(clsidKey, "AppID", kAppId);
            reg.set(clsidKey, "TypeLib", kTypeLib);
        }
    });
}

void removeRegistry() {
    updateProfile(registryStorePath(), [&](IniDocument& reg) {
        reg.removeSection(kAppIdSection);
        reg.removeSection("HKEY_CLASSES_ROOT\\AppID\\PelorinIO.EXE");
        for (const auto& c : kClasses) {
            std::string progId = std::string("PelorinIO.") + c.name;
            reg.removeSection("HKEY_CLASSES_ROOT\\" + progId + ".1");
            reg.removeSection("HKEY_CLASSES_ROOT\\" + progId);
            reg.removeSection(std::string("HKEY_CLASSES_ROOT\\CLSID\\") + c.clsid);
        }
    });
}

int reportFailure(const char* what, const std::exception& e) {
    std::fprintf(stderr, "plserv: %s: %s\n", what, e.what());
    return 1;
}

} // namespace

InstallLayout installLayout() {
    fs::path root = installRoot();
    std::string name = kBusName;
    return InstallLayout{root / "usr/share/dbus-1/services" / (name + ".service"),
                         root / "usr/share/dbus-1/system-services" / (name + ".service"),
                         root / "usr/share/dbus-1/system.d" / (name + ".conf"),
                         root / "usr/share/dbus-1/interfaces" / (name + ".xml"),
                         root / "etc/systemd/system/plserv.service"};
}

int registerServer(const fs::path& program, bool asService) {
    InstallLayout layout = installLayout();
    try {
        // Registering again starts from nothing: an earlier service goes first.
        removeFile(layout.unit);
        writeText(layout.interfaceFile, kPelorinIOXml);
        writeText(layout.sessionActivation, activationFile(program, false, false));
        writeText(layout.systemActivation, activationFile(program, true, asService));
        writeText(layout.policy, policyFile());
        writeRegistry(program, asService);
        if (asService) writeText(layout.unit, unitFile(program));
        reloadSystemd(layout);
        return 0;
    } catch (const std::exception& e) {
        return reportFailure(asService ? "サービスを作成できませんでした" : "registration failed", e);
    }
}

int unregisterServer() {
    InstallLayout layout = installLayout();
    try {
        removeRegistry();
        for (const auto& path :
             {layout.unit, layout.sessionActivation, layout.systemActivation, layout.policy, layout.interfaceFile})
            removeFile(path);
        reloadSystemd(layout);
        return 0;
    } catch (const std::exception& e) {
        return reportFailure("サービスは削除できませんでした", e);
    }
}

bool startedByServiceManager() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

bool registeredAsService() {
    try {
        return IniDocument::load(registryStorePath()).get(kAppIdSection, "LocalService").has_value();
    } catch (...) {
        return false;
    }
}

} // namespace plx
