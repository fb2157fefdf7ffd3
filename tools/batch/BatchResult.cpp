#include "tools/batch/BatchResult.h"

#include "api/ApiErrors.h"
#include "tools/batch/ExitCode.h"

namespace plx {

std::string_view batchExitMessage(BatchExit code) {
    switch (code) {
    case kBatchApiError: return "その他APIエラーが発生しました";
    case kBatchUnknownName: return "指定したファイル名称は登録がありません";
    case kBatchNoName: return "ファイル名称を指定して下さい";
    case kBatchTwoNames: return "ファイル名称は一つしか指定できません";
    case kBatchBadQuotes: return "コマンドライン引数が不正です";
    case kBatchSuccess: break;
    }
    return "";
}

int batchTransferExit(std::int32_t code, std::int32_t detail) {
    if (code == kApiOk) return kBatchSuccess;
    if (code == kApiCenterError) return exitStatusOf(detail, kBatchApiError);
    return kBatchApiError;
}

std::string batchResultText(std::string_view message, int exitCode) {
    if (exitCode == kBatchSuccess) return "正常(0)";
    return std::string(message) + "(" + std::to_string(exitCode) + ")";
}

std::string joinCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i > 0) line += ' ';
        bool quote =
            arg.find('"') == std::string::npos && (arg.empty() || arg.find_first_of(" \t") != std::string::npos);
        line += quote ? "\"" + arg + "\"" : arg;
    }
    return line;
}

BatchArgument parseBatchCommandLine(std::string_view commandLine) {
    std::size_t first = commandLine.find_first_not_of(' ');
    std::string_view line = first == std::string_view::npos
                                ? std::string_view{}
                                : commandLine.substr(first, commandLine.find_last_not_of(' ') - first + 1);
    if (line.find('"') == std::string_view::npos) {
        if (line.empty()) return {kBatchNoName, {}};
        // Every single blank splits: two blanks in a row make three parts.
        if (line.find(' ') != std::string_view::npos) return {kBatchTwoNames, {}};
        return {kBatchSuccess, std::string(line)};
    }
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') return {kBatchBadQuotes, {}};
    std::string_view name = line.substr(1, line.size() - 2);
    if (name.find('"') != std::string_view::npos) return {kBatchBadQuotes, {}};
    return {kBatchSuccess, std::string(name)};
}

std::string batchResultTextOf(std::string_view line) {
    std::size_t last = line.rfind('"');
    if (last != std::string_view::npos) line = line.substr(0, last);
    std::size_t first = line.find('"');
    if (first != std::string_view::npos) line = line.substr(first + 1);
    return std::string(line);
}

} // namespace plx
