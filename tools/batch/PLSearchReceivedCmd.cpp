// PLSearchReceivedCmd: copies every file the center delivered and no
// application picked up yet into the folder named by the first line of
// SaveFilePath.ini, leaves a marker with the size beside each copy and
// removes the register entry. Stops at the first failure, which is shown on
// standard error with the failing call's triple (or the system error) and,
// when the service turned the tool away, why. Takes no arguments.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>

#include "client/UserNotifier.h"
#include "platform/CommandUsage.h"
#include "platform/FdIo.h"
#include "platform/PathText.h"
#include "platform/UniqueFd.h"
#include "tools/batch/CommandLog.h"
#include "tools/batch/CrLfFile.h"
#include "tools/batch/ServiceRefusal.h"
#include "tools/batch/ServiceSession.h"

using namespace plx;

namespace {

constexpr const char* kTitle = "PLSearchReceivedCmd";
constexpr const char* kSaveFolderFile = "SaveFilePath.ini";

// PLSearchReceived: delivered and not picked up (1), every match (3).
constexpr std::int32_t kDeliveredStatus = 1;
constexpr std::int32_t kAllMatches = 3;
// PLDeleteFile: received entries (2), whatever their status (0).
constexpr std::int32_t kReceivedEntries = 2;

struct Failure {
    CallStatus triple;
};

CallStatus systemFailure(const std::string& path, int error) {
    return CallStatus{kApiSystemError, error, path + ": " + std::strerror(error)};
}

template <typename T>
T valueOf(CallResult<T> result) {
    if (!result.status.ok()) throw Failure{std::move(result.status)};
    return std::move(result.value);
}

// The first line of SaveFilePath.ini in the current folder, without its
// line end; read again for every file, as a user may change it meanwhile.
std::string saveFolder() {
    UniqueFd fd(::open(kSaveFolderFile, O_RDONLY | O_CLOEXEC));
    if (!fd) throw Failure{systemFailure(kSaveFolderFile, errno)};
    std::string line;
    char buffer[512];
    for (;;) {
        ssize_t n = readSome(fd.get(), buffer, sizeof buffer);
        if (n < 0) throw Failure{systemFailure(kSaveFolderFile, errno)};
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        std::size_t end = chunk.find('\n');
        line.append(chunk.substr(0, end));
        if (n == 0 || end != std::string_view::npos) break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void fetchOne(ServiceSession& session, CommandLog& log, std::int32_t index) {
    FileRec rec = valueOf(session.retrieve().PLSearchReceivedAt(index).wait());
    std::string copyName = rec.FileType + "_" + rec.SetDateTime + "_" + rec.ClTempFilename;
    std::string folder = saveFolder();
    std::string saved =
        valueOf(session.transport().PLGetDataA(rec.FileType, rec.ClTempFilename, folder, copyName, 0).wait());
    std::string copy = joinPath(folder, saved);
    log.write('D', "SaveFile:" + rec.ClTempFilename + "->" + copy);
    std::string marker = copy + ".ok";
    if (int error = writeCrLfFile(marker, std::to_string(rec.FileSize)); error != 0)
        throw Failure{systemFailure(marker, error)};
    log.write('D', "OutputOK:" + marker);
    valueOf(session.retrieve().PLDeleteFile(rec.FileType, kReceivedEntries, "", "", 0, rec.ClTempFilename).wait());
}

void plrecv(ServiceSession& session, CommandLog& log) {
    std::int32_t count =
        valueOf(session.retrieve().PLSearchReceived("", "", "", "", 0, kDeliveredStatus, kAllMatches).wait());
    log.write('D', "plrecv() count :" + std::to_string(count));
    for (std::int32_t i = 0; i < count; ++i) fetchOne(session, log, i);
}

} // namespace

int main(int argc, char** argv) {
    if (auto line = commandOperands(argc, argv, "使用法: PLSearchReceivedCmd"); line.exitCode) return *line.exitCode;
    CommandLog log("PLSearchReceived_", false);
    log.write('D', "=====Form_load begin=====");
    try {
        ServiceSession session;
        if (!session.status().ok()) throw Failure{session.status()};
        plrecv(session, log);
        return 0;
    } catch (const Failure& failure) {
        const CallStatus& t = failure.triple;
        StderrNotifier().show(
            kTitle, "ErrCd:" + std::to_string(t.code) + "\r\nDetail:" + std::to_string(t.detail) + "\r\n" + t.message,
            UserNotifier::Icon::Error);
        tellServiceRefusal(kTitle, t);
        return 1;
    }
}
