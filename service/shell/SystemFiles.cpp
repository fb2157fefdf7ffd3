#include "service/shell/SystemFiles.h"

#include <cstdio>
#include <initializer_list>
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

// text with each placeholder replaced by its value (values are not scanned
// again).
std::string fill(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string>> values) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [placeholder, value] : values) {
            if (text.substr(i, placeholder.size()) == placeholder) {
                out += value;
                i += placeholder.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
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
    return fill(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<!-- Korvane/PLX: only the service account owns the name; only root and
     the operators' group may talk to the service. -->
<busconfig>
  <policy context="default">
    <deny own="@NAME@"/>
    <deny send_destination="@NAME@"/>
  </policy>
  <policy user="@ACCOUNT@">
    <allow own="@NAME@"/>
  </policy>
  <policy user="root">
    <allow send_destination="@NAME@"/>
  </policy>
  <policy group="@GROUP@">
    <allow send_destination="@NAME@"/>
  </policy>
</busconfig>
)",
                {{"@NAME@", kBusName}, {"@ACCOUNT@", kServiceAccount}, {"@GROUP@", kOperatorsGroup}});
}

std::string unitFileText(const ServiceStart& start) {
    std::string environment;
    for (const auto& [name, value] : start.environment)
        environment += "Environment=" + unitWord(name + "=" + value, false) + "\n";
    // The hardening leaves the service every folder its callers name,
    // wherever it is: no PrivateTmp, ProtectHome or ProtectSystem.
    return fill(R"([Unit]
Description=Korvane/PLX file delivery and collection service
Documentation=@DOCUMENTATION@
After=dbus.service

[Service]
Type=dbus
BusName=@NAME@
ExecStart=@PROGRAM@
Environment=PLX_BUS=system
@ENVIRONMENT@Environment=PLX_RUNTIME_DIR=%t/plx
RuntimeDirectory=plx
RuntimeDirectoryMode=0700
User=@ACCOUNT@
Group=@GROUP@
UMask=0027
NotifyAccess=main
TimeoutStopSec=30
AmbientCapabilities=CAP_NET_BIND_SERVICE
CapabilityBoundingSet=CAP_NET_BIND_SERVICE
NoNewPrivileges=yes
ProtectKernelTunables=yes
ProtectKernelModules=yes
ProtectKernelLogs=yes
ProtectControlGroups=yes
ProtectClock=yes
ProtectHostname=yes
PrivateDevices=yes
RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6
RestrictNamespaces=yes
RestrictRealtime=yes
RestrictSUIDSGID=yes
LockPersonality=yes
MemoryDenyWriteExecute=yes
RemoveIPC=yes
SystemCallArchitectures=native
SystemCallFilter=@system-service
SystemCallErrorNumber=EPERM

[Install]
WantedBy=multi-user.target
)",
                {{"@DOCUMENTATION@", fileUrl(start.program.parent_path().parent_path() / "docs/operating.md")},
                 {"@NAME@", kBusName},
                 {"@PROGRAM@", unitWord(start.program.string(), true)},
                 {"@ENVIRONMENT@", environment},
                 {"@ACCOUNT@", kServiceAccount},
                 {"@GROUP@", kOperatorsGroup}});
}

std::string sysusersEntryText() {
    return std::string("# The account the Korvane/PLX service runs as. Its group is the operators'\n"
                       "# group: its members may call the service on the system bus and read its logs.\n"
                       "u ") +
           kServiceAccount + " - \"Korvane/PLX file delivery and collection service\"\n";
}

} // namespace plx
