// plbatwrap: runs plbat1 with this program's arguments, prints the result
// line plbat1 left in temp_plBat1.txt and ends with plbat1's exit code.
// Its arguments go to plbat1 as given, once they passed plbat1's own rules
// for options.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/CommandUsage.h"
#include "platform/ProgramFolder.h"
#include "tools/batch/BatchResult.h"

namespace fs = std::filesystem;
using namespace plx;

namespace {

constexpr const char* kBatchProgram = "plbat1";
constexpr int kCannotStart = 110;

bool isProgram(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

// plbat1 beside this program first, then in the absolute folders of PATH;
// never in the current folder.
std::optional<fs::path> findBatchProgram() {
    if (fs::path own = executableFolder(); !own.empty() && isProgram(own / kBatchProgram)) return own / kBatchProgram;
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "";
    while (!folders.empty()) {
        std::size_t colon = folders.find(':');
        fs::path folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
        if (folder.is_absolute() && isProgram(folder / kBatchProgram)) return folder / kBatchProgram;
    }
    return std::nullopt;
}

// plbat1's exit code; nullopt when it could not be started. A plbat1 ended
// by a signal counts as 128 + the signal, as in a shell.
std::optional<int> runBatchProgram(int argc, char** argv) {
    std::optional<fs::path> program = findBatchProgram();
    if (!program) return std::nullopt;
    std::vector<std::string> args{kBatchProgram};
    args.insert(args.end(), argv + 1, argv + argc);
    try {
        ChildProcess batch(args, ChildOptions{.program = *program});
        // Should its status be lost, the run still must not pass for a success.
        std::optional<int> status = batch.wait();
        return status ? exitCodeOf(*status) : kBatchApiError;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

// The first line of the result file, without its line end, whatever its
// length; the file is deleted. Empty when there is none.
std::string takeResultLine() {
    std::string line;
    std::ifstream in(kBatchResultFile, std::ios::binary);
    if (!in) return line;
    std::getline(in, line);
    in.close();
    std::error_code ec;
    fs::remove(kBatchResultFile, ec);
    if (std::size_t end = line.find('\r'); end != std::string::npos) line.resize(end);
    return line;
}

} // namespace

int main(int argc, char** argv) {
    if (auto line = commandOperands(argc, argv, "使用法: plbatwrap データ名称", {}); line.exitCode)
        return *line.exitCode;
    // A plbat1 that dies before writing must not leave the last run's line to be shown.
    std::error_code ec;
    fs::remove(kBatchResultFile, ec);
    std::optional<int> exitCode = runBatchProgram(argc, argv);
    if (!exitCode) {
        std::fputs("plBat1アプリケーション起動エラーが発生しました(110)\n", stdout);
        return kCannotStart;
    }
    std::string text = batchResultTextOf(takeResultLine()) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return *exitCode;
}
