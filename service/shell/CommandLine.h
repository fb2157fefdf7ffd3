#pragma once
// The service's command line. A switch is "-" or "/" followed by the whole
// rest of the line, compared without regard to case; with none, only an
// empty line runs the service and "--help" asks for the usage line. Any
// other line is refused before anything starts.

namespace plx {

enum class ServiceSwitch { None, RegServer, Service, UnregServer, Help, Unknown };

inline constexpr const char* kServiceUsage = "使用法: plserv [-RegServer | -Service | -UnregServer]";

ServiceSwitch parseServiceSwitch(int argc, const char* const argv[]);

} // namespace plx
