#include "platform/CommandUsage.h"

#include <cstdio>

namespace plx {

namespace {

void printLine(std::string_view line, std::FILE* to) {
    std::fwrite(line.data(), 1, line.size(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

} // namespace

int showUsage(std::string_view usage) {
    printLine(usage, stdout);
    return 0;
}

int refuseCommandLine(std::string_view usage) {
    printLine(usage, stderr);
    return kUsageExit;
}

CommandOperands commandOperands(int argc, const char* const argv[], std::string_view usage, OperandCount count) {
    CommandOperands result;
    int i = 1;
    for (; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') break;
        result.exitCode = argument == "--help" ? showUsage(usage) : refuseCommandLine(usage);
        return result;
    }
    result.operands.assign(argv + i, argv + argc);
    if (result.operands.size() < count.least || result.operands.size() > count.most)
        result.exitCode = refuseCommandLine(usage);
    return result;
}

} // namespace plx
