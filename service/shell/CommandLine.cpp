#include "service/shell/CommandLine.h"

#include <string>

#include "platform/Utf8.h"

namespace plx {

ServiceSwitch parseServiceSwitch(int argc, const char* const argv[]) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    // "-" and "/" never occur inside a UTF-8 sequence, so a byte scan is safe.
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '-' && line[i] != '/') continue;
        std::string_view rest = std::string_view(line).substr(i + 1);
        if (equalsIgnoreCase(rest, "UnregServer")) return ServiceSwitch::UnregServer;
        if (equalsIgnoreCase(rest, "RegServer")) return ServiceSwitch::RegServer;
        if (equalsIgnoreCase(rest, "Service")) return ServiceSwitch::Service;
    }
    if (line.empty()) return ServiceSwitch::None;
    return line == "--help" ? ServiceSwitch::Help : ServiceSwitch::Unknown;
}

} // namespace plx
