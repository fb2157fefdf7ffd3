#include "service/shell/Registration.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "PelorinIOXml.h"
#include "api/BusApi.h"
#include "platform/FileTransaction.h"
#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/RegistryStore.h"
#include "service/shell/ServiceManager.h"
#include "service/shell/SystemFiles.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppId = "{6C1E3A52-94D7-4B3E-9F0A-2D8C5B7E41A9}";
constexpr const char* kTypeLib = "{3B0D6F18-27A4-4C59-8E61-5F9A0C2D7B34}";

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

// A store that does not exist holds nothing to remove and stays missing; one
// left without keys goes.
void removeRegistry() {
    std::vector<std::string> keys{kAppIdSection, "HKEY_CLASSES_ROOT\\AppID\\PelorinIO.EXE"};
    for (const auto& c : kClasses) {
        std::string progId = std::string("PelorinIO.") + c.name;
        keys.push_back("HKEY_CLASSES_ROOT\\" + progId + ".1");
        keys.push_back("HKEY_CLASSES_ROOT\\" + progId);
        keys.push_back(std::string("HKEY_CLASSES_ROOT\\CLSID\\") + c.clsid);
    }
    RegistryStore().deleteKeys(keys);
}

bool present(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool installedHere() { return fs::path(installRoot()) == "/"; }

// Where the registering shell keeps the ini files and the registry store,
// for the programs the system starts: they do not inherit its environment.
std::vector<std::pair<std::string, std::string>> carriedEnvironment() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const char* name : {"PLX_HOME", "PLX_REGISTRY"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        fs::path path = fs::absolute(value).lexically_normal();
        if (!path.has_filename() && path != path.root_path()) path = path.parent_path(); // "dir/"
        out.emplace_back(name, path.string());
    }
    return out;
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
                         root / "etc/systemd/system" / kUnitName,
                         root / "etc/sysusers.d/plserv.conf"};
}

int registerServer(const fs::path& program, bool asService) {
    InstallLayout layout = installLayout();
    try {
        ServiceStart start{program, carriedEnvironment()};
        FileTransaction files;
        files.write(layout.interfaceFile, kPelorinIOXml);
        files.write(layout.sessionActivation, activationFileText(start, false, false));
        files.write(layout.systemActivation, activationFileText(start, true, asService));
        files.write(layout.policy, busPolicyText());
        files.write(layout.sysusers, sysusersEntryText());
        if (asService)
            files.write(layout.unit, unitFileText(start));
        else
            files.remove(layout.unit);

        ServiceManager manager(installedHere());
        // Registering again starts from nothing: an earlier service stops
        // first, and no longer starts at boot when no unit follows it.
        if (present(layout.unit)) manager.stop(!asService);
        files.commit();
        manager.createAccount(layout.sysusers);
        writeRegistry(program, asService);
        files.keep();
        manager.reload();
        return 0;
    } catch (const std::exception& e) {
        return reportFailure(asService ? "サービスを作成できませんでした" : "registration failed", e);
    }
}

int unregisterServer() {
    InstallLayout layout = installLayout();
    try {
        FileTransaction files;
        for (const auto& path : {layout.unit, layout.sessionActivation, layout.systemActivation, layout.policy,
                                 layout.interfaceFile, layout.sysusers})
            files.remove(path);
        ServiceManager manager(installedHere());
        if (present(layout.unit)) manager.stop(true);
        files.commit();
        removeRegistry();
        files.keep();
        manager.reload();
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
