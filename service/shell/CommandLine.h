#pragma once
// The service's command-line switches: "-" or "/" followed by the whole
// rest of the line, compared without regard to case.

namespace plx {

enum class ServiceSwitch { None, RegServer, Service, UnregServer };

ServiceSwitch parseServiceSwitch(int argc, const char* const argv[]);

} // namespace plx
