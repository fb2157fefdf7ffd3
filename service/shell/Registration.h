#pragma once
// Registering the service: the D-Bus activation and policy files, the
// interface file, the sysusers.d entry of the service account, the systemd
// unit when it runs as a system service, and the class and application
// entries of the registry store. A registration writes all of them or, when
// a step fails, leaves what was there before; unregistering removes them.
// PLX_HOME, when set, is carried into the activation files and the unit.

#include <filesystem>
#include <string>

#include "platform/RegistryStore.h"

namespace plx {

struct InstallLayout {
    std::filesystem::path sessionActivation;
    std::filesystem::path systemActivation;
    std::filesystem::path policy;
    std::filesystem::path interfaceFile;
    std::filesystem::path unit;
    std::filesystem::path sysusers;
};

// Under PLX_INSTALL_ROOT when set, else under "/".
InstallLayout installLayout();

inline constexpr const char* kServiceName = "PelorinIO";
inline constexpr const char* kAppIdSection = "HKEY_CLASSES_ROOT\\AppID\\{6C1E3A52-94D7-4B3E-9F0A-2D8C5B7E41A9}";

// 0 on success; otherwise the failure has been written to stderr.
int registerServer(const std::filesystem::path& program, bool asService);
int unregisterServer();
// The registry store says the program runs as a system service.
bool registeredAsService();
// Started by systemd as the service's unit: NOTIFY_SOCKET, which systemd
// hands to the unit's main process (the unit asks for it with
// NotifyAccess=main). A start by hand or by D-Bus activation has none.
bool startedByServiceManager();
// Runs as the system service only when registered as one and started by
// systemd; any other start runs as a local server on the session bus.
inline bool runsAsService() { return registeredAsService() && startedByServiceManager(); }

} // namespace plx
