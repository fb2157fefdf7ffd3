// PLSendDataCmd: sends one client data file to the center and leaves a
// marker beside it: name.sendok after a send, name.sendng holding the detail
// code when the send failed.
//
// Exit codes: 0 sent, 1 not sent, 2 bad command line (not three words after
// the options; nothing is sent or marked), 3 sent but the success marker
// could not be written. A file name must be a plain name of the folder (no
// "/", not "." or ".."), so that the marker stays in the folder too; every
// argument must be UTF-8. A failure is told on standard error as in the log.
// A marker replaces the other kind left by an earlier try, so the two never
// stand side by side.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "api/ArgumentRules.h"
#include "platform/CommandUsage.h"
#include "platform/PathText.h"
#include "platform/Utf8.h"
#include "tools/batch/CommandLog.h"
#include "tools/batch/CrLfFile.h"
#include "tools/batch/SendFailureMessage.h"
#include "tools/batch/ServiceRefusal.h"
#include "tools/batch/ServiceSession.h"

using namespace plx;

namespace {

enum SendExit : int { kSent = 0, kNotSent = 1, kUsage = kUsageExit, kNoMarker = 3 };

bool writeMarker(const std::string& path, std::string_view line, const std::string& stale) {
    int removeError = ::unlink(stale.c_str()) == 0 ? 0 : errno;
    if (removeError != 0 && removeError != ENOENT)
        std::fprintf(stderr, "PLSendDataCmd: %s: %s\n", stale.c_str(), std::strerror(removeError));
    int error = writeCrLfFile(path, line);
    if (error == 0) return true;
    std::fprintf(stderr, "PLSendDataCmd: %s: %s\n", path.c_str(), std::strerror(error));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    CommandOperands line =
        commandOperands(argc, argv, "使用法: PLSendDataCmd ファイル種別 フォルダ ファイル名", {3, 3});
    if (line.exitCode) return *line.exitCode;
    const std::string fileType = line.operands[0], folder = line.operands[1], fileName = line.operands[2];
    // The markers go beside the file: a name or folder that could put them
    // elsewhere (or nowhere) is refused before anything is written.
    if (fileName.empty() || !isPlainName(fileName)) {
        std::fprintf(stderr, "PLSendDataCmd: %s: %s\n", std::string(kBadFileNameText).c_str(), fileName.c_str());
        return kUsage;
    }
    if (!isAbsoluteFolder(folder)) {
        std::fprintf(stderr, "PLSendDataCmd: %s: %s\n", std::string(kBadDirectoryText).c_str(), folder.c_str());
        return kUsage;
    }
    // The bus carries UTF-8 only: another text could never reach the service.
    for (const std::string* argument : {&fileType, &folder, &fileName})
        if (!isValidUtf8(*argument)) {
            std::fputs("PLSendDataCmd: 引数が UTF-8 ではありません\n", stderr);
            return kUsage;
        }

    CommandLog log("PLSendDataCmd_", true);
    ServiceSession session;
    CallStatus status = session.status();
    if (status.ok()) status = session.transport().PLSendData(fileType, folder, fileName).wait().status;

    const std::string fileText = "fileType:" + fileType + ", path:" + folder + ", fileName:" + fileName;
    const std::string dataFile = joinPath(folder, fileName);
    if (status.ok()) {
        // The file is at the center now: nothing from here on may say otherwise.
        log.write('I', fileText);
        log.write('I', "Success");
        return writeMarker(dataFile + ".sendok", "", dataFile + ".sendng") ? kSent : kNoMarker;
    }
    // The table's message for the log's readers, then what the service said.
    std::string failure = "ErrCd:" + std::to_string(status.code) + ", Detail:" + std::to_string(status.detail) +
                          ", Msg:" + std::string(sendFailureMessage(status.code, status.detail));
    if (!status.message.empty()) failure += ", ErrMsg:" + status.message;
    log.write('E', fileText);
    log.write('E', failure);
    std::fprintf(stderr, "PLSendDataCmd: %s\n", failure.c_str());
    tellServiceRefusal("PLSendDataCmd", status);
    writeMarker(dataFile + ".sendng", std::to_string(status.detail), dataFile + ".sendok");
    return kNotSent;
}
