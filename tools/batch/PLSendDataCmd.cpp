// PLSendDataCmd: sends one client data file to the center and leaves a
// marker beside it: name.sendok after a send, name.sendng holding the detail
// code when the send failed.
//
// Exit codes: 0 sent, 1 not sent, 2 bad command line (nothing is sent or
// marked), 3 sent but the success marker could not be written.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/PathText.h"
#include "tools/batch/CommandLog.h"
#include "tools/batch/CrLfFile.h"
#include "tools/batch/SendFailureMessage.h"
#include "tools/batch/ServiceSession.h"

using namespace plx;

namespace {

enum SendExit : int { kSent = 0, kNotSent = 1, kUsage = 2, kNoMarker = 3 };

bool writeMarker(const std::string& path, std::string_view line) {
    int error = writeCrLfFile(path, line);
    if (error == 0) return true;
    std::fprintf(stderr, "PLSendDataCmd: %s: %s\n", path.c_str(), std::strerror(error));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("使用法: PLSendDataCmd ファイル種別 フォルダ ファイル名\n", stderr);
        return kUsage;
    }
    const std::string fileType = argv[1], folder = argv[2], fileName = argv[3];

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
        return writeMarker(dataFile + ".sendok", "") ? kSent : kNoMarker;
    }
    log.write('E', fileText);
    log.write('E', "ErrCd:" + std::to_string(status.code) + ", Detail:" + std::to_string(status.detail) +
                       ", Msg:" + std::string(sendFailureMessage(status.code, status.detail)));
    writeMarker(dataFile + ".sendng", std::to_string(status.detail));
    return kNotSent;
}
