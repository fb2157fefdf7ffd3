#pragma once
// What the batch program plbat1 ends with: its exit code and the one line of
// its result file, which the launcher plbatwrap prints.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plx {

// In the current folder of both programs.
inline constexpr const char* kBatchResultFile = "temp_plBat1.txt";

enum BatchExit : int {
    kBatchSuccess = 0,
    kBatchApiError = 101,    // the start failed, or the transfer failed other than at the center
    kBatchUnknownName = 102, // no data kind has the DataName
    kBatchNoName = 103,      // empty command line
    kBatchTwoNames = 104,    // more than one unquoted word
    kBatchBadQuotes = 105,   // quoting of the command line is bad
};

// The message of a code of the table above (not of kBatchSuccess).
std::string_view batchExitMessage(BatchExit code);

// The exit code after a transfer's triple: 0 for success, the center's
// result code for a center failure (code 5) when it fits an exit status,
// else 101.
int batchTransferExit(std::int32_t code, std::int32_t detail);

// The result text: "正常(0)" for 0, else message + "(" + code + ")".
std::string batchResultText(std::string_view message, int exitCode);

// The command line as the program would have received it in one piece:
// the arguments joined with single blanks, each one that is empty or holds
// a blank (and no double quote) enclosed in double quotes.
std::string joinCommandLine(const std::vector<std::string>& args);

// The DataName of a command line, or the exit code that refuses the line.
struct BatchArgument {
    BatchExit exitCode = kBatchSuccess;
    std::string dataName;
};
BatchArgument parseBatchCommandLine(std::string_view commandLine);

// The launcher's cut of a result line: the text between its first and its
// last double quote; a line with fewer than two quotes loses the part from
// its one quote on, and a line without any is kept whole.
std::string batchResultTextOf(std::string_view line);

} // namespace plx
