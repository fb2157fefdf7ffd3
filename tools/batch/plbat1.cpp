// plbat1: one unattended transfer of the data kind named on the command line,
// through the service wrapper. The outcome is the exit code and one line in
// temp_plBat1.txt in the current folder; a command line it cannot use, and
// a service that turned it away, are told on standard error too.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/StartupLoad.h"
#include "platform/CommandUsage.h"
#include "tools/batch/BatchResult.h"
#include "tools/batch/CrLfFile.h"
#include "tools/batch/ServiceRefusal.h"

using namespace plx;

namespace {

constexpr const char* kProgram = "plbat1";

// Writes the result file, then gives the code to end with.
int finish(int exitCode, std::string_view message) {
    std::string line = "\"" + batchResultText(message, exitCode) + "\"";
    if (int error = writeCrLfFile(kBatchResultFile, line); error != 0)
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, kBatchResultFile, std::strerror(error));
    return exitCode;
}

int finish(BatchExit code) { return finish(code, batchExitMessage(code)); }

// A command line plbat1 cannot use is said on standard error too: a caller
// that does not read the result file would never learn why nothing ran.
int refuseArguments(BatchExit code) {
    finish(code);
    std::fprintf(stderr, "%s: %s\n", kProgram, batchResultText(batchExitMessage(code), code).c_str());
    return code;
}

// The service's triple decides the code; why it turned plbat1 away is said besides.
int finish(BatchExit code, const CallStatus& status) {
    tellServiceRefusal(kProgram, status);
    return finish(code);
}

int transfer(const DataKind& kind, ServiceWrapper& wrapper) {
    ClientFilePath file = splitClientFileName(kind.app.clientFileName);
    if (kind.app.direction == kDirectionSend) {
        wrapper.SendData(kind.file.FileType, file.folder, file.fileName, kind.file.UserData);
    } else {
        wrapper.RecvData(kind.file.FileType, file.folder, file.fileName, 0, kind.file.UserData);
    }
    int exitCode = batchTransferExit(wrapper.LastErrorCd(), wrapper.LastErrorCdDetail());
    tellServiceRefusal(kProgram, wrapper.triple());
    return finish(exitCode, wrapper.LastErrorMsg());
}

} // namespace

int main(int argc, char** argv) {
    CommandOperands words = commandOperands(argc, argv, "使用法: plbat1 データ名称", {});
    if (words.exitCode) return *words.exitCode;
    BatchArgument argument = parseBatchCommandLine(joinCommandLine(words.operands));
    if (argument.exitCode != kBatchSuccess) return refuseArguments(argument.exitCode);

    StderrNotifier notifier; // the follow-up program's failure box
    AppState state;
    if (std::optional<CallStatus> failure = loadBatchGlobals(state, notifier)) return finish(kBatchApiError, *failure);
    std::optional<std::size_t> index = state.kinds.indexOfDataName(argument.dataName);
    if (!index) return finish(kBatchUnknownName);
    return transfer(state.kinds[*index], *state.wrapper);
}
