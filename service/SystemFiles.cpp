#include "service/SystemFiles.h"

#include <cstdio>
#include <string_view>

#include "api/BusApi.h"

namespace plx {

// The sysusers.d entry's "u" line makes the account's group of the same name.
static_assert(std::string_view(kServiceAccount) == std::string_view(kOperatorsGroup));

namespace {

bool plainWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/._-+=:@,").find(c) != std::string_view::npos;
}

const std::string& checked(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f || c == '\\')
            throw SystemFileError("a path with control characters or a backslash cannot be registered: " + text);
    return text;
}

// One word of an activation file's Exec line, which the bus splits as a
// shell does, after reading "\\" in the file as one backslash.
std::string execWord(const std::string& text) {
    bool plain = !text.empty();
    for (char c : checked(text)) plain = plain && plainWordChar(c);
    if (plain) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\\\''") : std::string(1, c);
    return out + "'";
}

// systemd expands "%" specifiers in most settings, and "$" in command lines.
std::string unitText(const std::string& text, bool commandLine) {
    std::string out;
    for (char c : text) {
        if (c == '%') out += '%';
        if (c == '$' && commandLine) out += '$';
        out += c;
    }
    return out;
}

// One word of a unit setting, quoted as systemd reads it.
std::string unitWord(const std::string& text, bool commandLine) {
    bool plain = !text.empty();
    for (char c : checked(text)) plain = plain && plainWordChar(c);
    if (plain) return unitText(text, commandLine);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '\\';
        out += c;
    }
    return unitText(out + "\"", commandLine);
}

std::string fileUrl(const std::filesystem::path& path) {
    std::string out = "file://";
    const std::string text = path.string();
    for (unsigned char c : checked(text)) {
        if (plainWordChar(static_cast<char>(c)) && c != '+' && c != '=' && c != ':' && c != '@' && c != ',') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return unitText(out, false);
}

} // namespace

std::string activationFileText(const ServiceStart& start, bool system, bool asService) {
    std::string exec = execWord(start.program.string());
    if (!start.environment.empty()) {
        std::string assignments;
        for (const auto& [name, value] : start.environment) assignments += execWord(name + "=" + value) + " ";
        exec = "/usr/bin/env " + assignments + exec;
    }
    std::string text = std::string("[D-BUS Service]\nName=") + kBusName + "\nExec=" + exec + "\n";
    if (system) text += std::string("User=") + kServiceAccount + "\n";
    if (system && asService) text += std::string("SystemdService=") + kUnitName + "\n";
    return text;
}

std::string busPolicyText() {
    const std::string name = kBusName;
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<!-- Korvane/PLX: only the service account owns the name; only root and\n"
           "     the operators' group may talk to the service. -->\n"
           "<busconfig>\n"
           "  <policy context=\"default\">\n"
           "    <deny own=\"" +
           name + "\"/>\n    <deny send_destination=\"" + name +
           "\"/>\n  </policy>\n"
           "  <policy user=\"" +
           kServiceAccount + "\">\n    <allow own=\"" + name +
           "\"/>\n  </policy>\n"
           "  <policy user=\"root\">\n    <allow send_destination=\"" +
           name +
           "\"/>\n  </policy>\n"
           "  <policy group=\"" +
           kOperatorsGroup + "\">\n    <allow send_destination=\"" + name +
           "\"/>\n  </policy>\n"
           "</busconfig>\n";
}

std::string unitFileText(const ServiceStart& start) {
    std::string text = "[Unit]\n"
                       "Description=Korvane/PLX file delivery and collection service\n"
                       "Documentation=" +
                       fileUrl(start.program.parent_path().parent_path() / "README.md") +
                       "\n"
                       "After=dbus.service\n"
                       "\n"
                       "[Service]\n"
                       "Type=dbus\n"
                       "BusName=" +
                       std::string(kBusName) +
                       "\n"
                       "ExecStart=" +
                       unitWord(start.program.string(), true) + "\n";
    text += "Environment=PLX_BUS=system\n";
    for (const auto& [name, value] : start.environment)
        text += "Environment=" + unitWord(name + "=" + value, false) + "\n";
    text += "Environment=PLX_RUNTIME_DIR=%t/plx\n"
            "RuntimeDirectory=plx\n"
            "RuntimeDirectoryMode=0700\n"
            "User=" +
            std::string(kServiceAccount) +
            "\n"
            "Group=" +
            std::string(kOperatorsGroup) +
            "\n"
            // Logs readable by the operators' group, nothing by everyone.
            "UMask=0027\n"
            "NotifyAccess=main\n"
            "TimeoutStopSec=30\n"
            // The gateway may listen on 80 or 443.
            "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
            "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
            // Hardening that still lets the service reach the folders its
            // callers name, wherever they are: no PrivateTmp, ProtectHome or
            // ProtectSystem.
            "NoNewPrivileges=yes\n"
            "ProtectKernelTunables=yes\n"
            "ProtectKernelModules=yes\n"
            "ProtectKernelLogs=yes\n"
            "ProtectControlGroups=yes\n"
            "ProtectClock=yes\n"
            "ProtectHostname=yes\n"
            "PrivateDevices=yes\n"
            "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
            "RestrictNamespaces=yes\n"
            "RestrictRealtime=yes\n"
            "RestrictSUIDSGID=yes\n"
            "LockPersonality=yes\n"
            "MemoryDenyWriteExecute=yes\n"
            "RemoveIPC=yes\n"
            "SystemCallArchitectures=native\n"
            "SystemCallFilter=@system-service\n"
            "SystemCallErrorNumber=EPERM\n"
            "\n"
            "[Install]\n"
            // The center's gateway reaches only a running service.
            "WantedBy=multi-user.target\n";
    return text;
}

std::string sysusersEntryText() {
    return std::string("# The account the Korvane/PLX service runs as. Its group is the operators'\n"
                       "# group: its members may call the service on the system bus and read its logs.\n"
                       "u ") +
           kServiceAccount + " - \"Korvane/PLX file delivery and collection service\"\n";
}

} // namespace plx
