// plbat1: one unattended transfer of the data kind named on the command line,
// through the service wrapper. The outcome is the exit code and one line in
// temp_plBat1.txt in the current folder.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/StartupLoad.h"
#include "tools/batch/BatchResult.h"
#include "tools/batch/CrLfFile.h"

using namespace plx;

namespace {

// Writes the result file, then gives the code to end with.
int finish(int exitCode, std::string_view message) {
    std::string line = "\"" + batchResultText(message, exitCode) + "\"";
    if (int error = writeCrLfFile(kBatchResultFile, line); error != 0)
        std::fprintf(stderr, "plbat1: %s: %s\n", kBatchResultFile, std::strerror(error));
    return exitCode;
}

int finish(BatchExit code) { return finish(code, batchExitMessage(code)); }

int transfer(const DataKind& kind, ServiceWrapper& wrapper) {
    ClientFilePath file = splitClientFileName(kind.app.clientFileName);
    if (kind.app.direction == kDirectionSend) {
        wrapper.SendData(kind.file.FileType, file.folder, file.fileName, kind.file.UserData);
    } else {
        wrapper.RecvData(kind.file.FileType, file.folder, file.fileName, 0, kind.file.UserData);
    }
    int exitCode = batchTransferExit(wrapper.LastErrorCd(), wrapper.LastErrorCdDetail());
    return finish(exitCode, wrapper.LastErrorMsg());
}

} // namespace

int main(int argc, char** argv) {
    BatchArgument argument = parseBatchCommandLine(joinCommandLine(std::vector<std::string>(argv + 1, argv + argc)));
    if (argument.exitCode != kBatchSuccess) return finish(argument.exitCode);

    StderrNotifier notifier; // the follow-up program's failure box
    AppState state;
    if (loadBatchGlobals(state, notifier)) return finish(kBatchApiError);
    std::optional<std::size_t> index = state.kinds.indexOfDataName(argument.dataName);
    if (!index) return finish(kBatchUnknownName);
    return transfer(state.kinds[*index], *state.wrapper);
}
