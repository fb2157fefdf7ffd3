// plxdemo: drives the running service through the client library the way an
// application does: stores the terminal information and a data kind, sends
// one file to the center and receives one back, printing each step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "client/ServiceApi.h"
#include "platform/BusConnection.h"

namespace {

using namespace plx;

long long elapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

void usage() {
    std::fprintf(stderr, "usage: plxdemo CENTER_URL SEND_FILE RECEIVE_FOLDER\n");
    std::exit(2);
}

// Progress arrives on the library's bus thread; printing there is fine.
class Progress final : public ClientEvents {
public:
    void PLSendStatus(std::int32_t total, std::int32_t sent, std::int32_t ms) override {
        std::printf("  progress: sent %d of %d bytes (%d ms)\n", sent, total, ms);
    }
    void PLRecvStatus(std::int32_t total, std::int32_t received, std::int32_t ms) override {
        std::printf("  progress: received %d of %d bytes (%d ms)\n", received, total, ms);
    }
    void PLRecvRequest(std::int32_t, const std::string&) override {}
};

// Stops the demo when a call failed, with the call's own error triple.
template <typename T>
T check(const CallResult<T>& result, const char* what) {
    if (!result.status.ok()) {
        std::printf("%s failed: LastErrorCd %d, LastErrorCdDetail %d, %s\n", what, result.status.code,
                    result.status.detail, result.status.message.c_str());
        std::exit(1);
    }
    return result.value;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) usage();
    std::string centerUrl = argv[1];
    std::filesystem::path sendFile = std::filesystem::absolute(argv[2]);
    std::string receiveFolder = std::filesystem::absolute(argv[3]).string();

    Progress progress;
    ServiceBus service(&progress);
    check(CallResult<NoResult>{service.status(), {}}, "connecting to the service");
    auto transport = check(service.createTransport().wait(), "CreateTransport");
    check(transport->Init(service.client().path()).wait(), "Init");
    std::printf("connected to the service (bus %s)\n", busChoice(BusKind::Session).c_str());

    TerminalRec terminal;
    terminal.TerminalID = "1001";
    terminal.CenterID = "9001";
    terminal.CenterHost = "center";
    terminal.CenterURL = centerUrl;
    terminal.Password = "pw";
    terminal.ProtocolVersion = "1.0";
    check(service.client().PLSetTermInfo(terminal).wait(), "PLSetTermInfo");
    std::printf("terminal information stored: terminal 1001, center %s\n", centerUrl.c_str());
    FileRec kind;
    kind.FileType = "K001";
    kind.DataName = "デモ";
    kind.ServiceNo = 7;
    kind.ProtocolFilename = "PF01";
    kind.AccessKey = "AK0001";
    kind.RecordLength = -1;
    kind.CompressID = 1;
    check(service.client().PLSetFileInfo(kind).wait(), "PLSetFileInfo");
    std::printf("data kind K001 stored (gzip on)\n");

    std::printf("sending %s (%ju bytes)\n", sendFile.string().c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(sendFile)));
    auto started = std::chrono::steady_clock::now();
    check(transport->PLSendData("K001", sendFile.parent_path().string(), sendFile.filename().string()).wait(),
          "PLSendData");
    std::printf("send done in %lld ms\n", elapsedMs(started));

    std::printf("receiving into %s\n", receiveFolder.c_str());
    started = std::chrono::steady_clock::now();
    auto received = check(transport->PLRecvData("K001", receiveFolder, "", 0).wait(), "PLRecvData");
    std::printf("receive done in %lld ms: %s (%d bytes)\n", elapsedMs(started), received.fileName.c_str(),
                received.fileSize);
    return 0;
}
