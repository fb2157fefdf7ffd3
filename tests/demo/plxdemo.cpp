// plxdemo: drives the running service over the bus the way an application
// does: stores the terminal information and a data kind, sends one file to
// the center and receives one back, printing each step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "client/BusProxies.h"

namespace {

long long elapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

void usage() {
    std::fprintf(stderr, "usage: plxdemo CENTER_URL SEND_FILE RECEIVE_FOLDER\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    using namespace plx;
    if (argc != 4) usage();
    std::string centerUrl = argv[1];
    std::filesystem::path sendFile = std::filesystem::absolute(argv[2]);
    std::string receiveFolder = std::filesystem::absolute(argv[3]).string();

    try {
        auto bus = openClientBus();
        bus->enterEventLoopAsync();
        ClientProxy client(*bus);
        client.onSendStatus = [](std::int32_t total, std::int32_t sent, std::int32_t ms) {
            std::printf("  progress: sent %d of %d bytes (%d ms)\n", sent, total, ms);
        };
        client.onRecvStatus = [](std::int32_t total, std::int32_t received, std::int32_t ms) {
            std::printf("  progress: received %d of %d bytes (%d ms)\n", received, total, ms);
        };
        client.Advise();
        FactoryProxy factory(*bus);
        TransportProxy transport(*bus, factory.CreateTransport());
        std::printf("connected to the service (bus %s)\n", busChoice(BusKind::Session).c_str());

        client.PLSetTermInfo("1001", "9001", "center", centerUrl, "pw", "1.0", "", "", "");
        std::printf("terminal information stored: terminal 1001, center %s\n", centerUrl.c_str());
        client.PLSetFileInfo("K001", "デモ", 7, "PF01", "AK0001", -1, 1, "");
        std::printf("data kind K001 stored (gzip on)\n");

        std::printf("sending %s (%ju bytes)\n", sendFile.string().c_str(),
                    static_cast<std::uintmax_t>(std::filesystem::file_size(sendFile)));
        auto started = std::chrono::steady_clock::now();
        transport.PLSendData("K001", sendFile.parent_path().string(), sendFile.filename().string());
        std::printf("send done in %lld ms: LastErrorCd %d\n", elapsedMs(started), transport.LastErrorCd());

        std::printf("receiving into %s\n", receiveFolder.c_str());
        started = std::chrono::steady_clock::now();
        auto [name, size] = transport.PLRecvData("K001", receiveFolder, "", 0);
        std::printf("receive done in %lld ms: %s (%d bytes), LastErrorCd %d\n", elapsedMs(started), name.c_str(), size,
                    transport.LastErrorCd());

        transport.Release();
        client.Unadvise();
        return 0;
    } catch (const sdbus::Error& e) {
        std::printf("failed: %s\n", e.getMessage().c_str());
        return 1;
    }
}
