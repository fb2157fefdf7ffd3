#pragma once
// The texts of the files registration installs for the system: the D-Bus
// activation files and bus policy, the systemd unit and the sysusers.d entry
// of the service account.
//
// Who may do what on the system bus: the service account alone owns the bus
// name; root and the members of the operators' group alone may send to it
// (every interface, Service.Close included). The operators' group is the
// service account's own group, made with it by the sysusers.d entry; the
// service's files that others may read (its logs) are readable by it.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "api/BusApi.h"

namespace plx {

inline constexpr const char* kServiceAccount = "plx";
inline constexpr const char* kUnitName = "plserv.service";

// A path that none of the file formats can carry (control characters, a
// backslash).
class SystemFileError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct ServiceStart {
    std::filesystem::path program;
    // Variables to start it with ("PLX_HOME" and the folder of the ini
    // files, ...); the system starts it without the registering shell's.
    std::vector<std::pair<std::string, std::string>> environment;
};

// The activation file of the session bus (system false) or the system bus;
// the system one names the account, and the unit when asService.
std::string activationFileText(const ServiceStart& start, bool system, bool asService);
std::string busPolicyText();
std::string unitFileText(const ServiceStart& start);
std::string sysusersEntryText();

} // namespace plx
