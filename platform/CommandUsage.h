#pragma once
// How every program of the product meets its command line, before it does
// anything else: "--help" prints the program's usage line on standard output
// and ends with 0; an option or argument it does not take prints the line on
// standard error and ends with kUsageExit. Options are the leading arguments
// that begin with "-" (a lone "-" is none); "--" ends them, so that an
// operand may begin with "-" after it.

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plx {

inline constexpr int kUsageExit = 2;

// How many operands a program takes.
struct OperandCount {
    std::size_t least = 0;
    std::size_t most = std::numeric_limits<std::size_t>::max();
};

struct CommandOperands {
    std::vector<std::string> operands;
    // Set when the program ends here, with this exit code (the line printed).
    std::optional<int> exitCode;
};

// usage: the whole line without its line end ("使用法: killplx").
CommandOperands commandOperands(int argc, const char* const argv[], std::string_view usage,
                                OperandCount count = {0, 0});

// The usage line on standard output; 0.
int showUsage(std::string_view usage);
// The usage line on standard error; kUsageExit.
int refuseCommandLine(std::string_view usage);

} // namespace plx
