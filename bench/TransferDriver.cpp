// transfer_driver: runs the service's terminal-started transfers the way an
// application does, for the transfer benchmark.
//
//   transfer_driver setup CENTER_URL       terminal information and the data
//                                          kinds GZ01 (gzip) and PL01 (plain)
//   transfer_driver send KIND FILE         one PLSendData
//   transfer_driver recv KIND FOLDER       one PLRecvData, under the center's name
//   transfer_driver sendmany KIND FILE N   N PLSendData at once, each on its own
//                                          Transport object
//   transfer_driver sendseq KIND FILE N    N PLSendData one after the other on
//                                          one Transport: "ok <total> <p50> <p99>"
//
// Prints one line: "ok <milliseconds> ..." or the failure; exit status 0
// only when every call succeeded.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/ServiceApi.h"

namespace {

using namespace plx;
using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: transfer_driver setup URL | send KIND FILE | recv KIND FOLDER | "
                         "sendmany KIND FILE N | sendseq KIND FILE N\n");
    std::exit(2);
}

template <typename T>
bool report(const CallResult<T>& result, const char* what) {
    if (result.status.ok()) return true;
    std::printf("failed %s: LastErrorCd %d, LastErrorCdDetail %d, %s\n", what, result.status.code, result.status.detail,
                result.status.message.c_str());
    return false;
}

std::shared_ptr<RemoteTransport> newTransport(ServiceBus& service) {
    auto transport = service.createTransport().wait();
    if (!report(transport, "CreateTransport")) std::exit(1);
    if (!report(transport.value->Init(service.client().path()).wait(), "Init")) std::exit(1);
    return transport.value;
}

int setup(ServiceBus& service, const std::string& url) {
    TerminalRec terminal;
    terminal.TerminalID = "1001";
    terminal.CenterID = "9001";
    terminal.CenterHost = "center";
    terminal.CenterURL = url;
    terminal.Password = "pw";
    terminal.ProtocolVersion = "1.0";
    if (!report(service.client().PLSetTermInfo(terminal).wait(), "PLSetTermInfo")) return 1;
    for (auto [type, protocolName, compress] : {std::tuple{"GZ01", "PFGZ", 1}, std::tuple{"PL01", "PFPL", 0}}) {
        FileRec kind;
        kind.FileType = type;
        kind.DataName = "bench";
        kind.ServiceNo = 7;
        kind.ProtocolFilename = protocolName;
        kind.AccessKey = "AK0001";
        kind.RecordLength = -1;
        kind.CompressID = compress;
        if (!report(service.client().PLSetFileInfo(kind).wait(), "PLSetFileInfo")) return 1;
    }
    std::printf("ok 0\n");
    return 0;
}

int send(ServiceBus& service, const std::string& kind, const std::filesystem::path& file) {
    auto transport = newTransport(service);
    const auto started = Clock::now();
    const auto result = transport->PLSendData(kind, file.parent_path().string(), file.filename().string()).wait();
    const long long ms = millisSince(started);
    if (!report(result, "PLSendData")) return 1;
    std::printf("ok %lld\n", ms);
    return 0;
}

int receive(ServiceBus& service, const std::string& kind, const std::filesystem::path& folder) {
    auto transport = newTransport(service);
    const auto started = Clock::now();
    const auto result = transport->PLRecvData(kind, folder.string(), "", 0).wait();
    const long long ms = millisSince(started);
    if (!report(result, "PLRecvData")) return 1;
    std::printf("ok %lld %s %d\n", ms, result.value.fileName.c_str(), result.value.fileSize);
    return 0;
}

int sendMany(ServiceBus& service, const std::string& kind, const std::filesystem::path& file, int count) {
    std::vector<std::shared_ptr<RemoteTransport>> transports;
    for (int i = 0; i < count; ++i) transports.push_back(newTransport(service));
    const auto started = Clock::now();
    std::vector<PendingCall<NoResult>> calls;
    for (auto& t : transports)
        calls.push_back(t->PLSendData(kind, file.parent_path().string(), file.filename().string()));
    int succeeded = 0;
    for (auto& call : calls)
        if (report(call.wait(), "PLSendData")) ++succeeded;
    const long long ms = millisSince(started);
    std::printf("%s %lld %d/%d\n", succeeded == count ? "ok" : "failed", ms, succeeded, count);
    return succeeded == count ? 0 : 1;
}

// The value below which a share of the sorted times lies (nearest rank).
double percentile(const std::vector<double>& sorted, double share) {
    const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

int sendSequence(ServiceBus& service, const std::string& kind, const std::filesystem::path& file, int count) {
    auto transport = newTransport(service);
    std::vector<double> ms;
    const auto started = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto one = Clock::now();
        const auto result = transport->PLSendData(kind, file.parent_path().string(), file.filename().string()).wait();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - one).count());
        if (!report(result, "PLSendData")) return 1;
    }
    const long long total = millisSince(started);
    std::sort(ms.begin(), ms.end());
    std::printf("ok %lld %.1f %.1f\n", total, percentile(ms, 0.50), percentile(ms, 0.99));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) usage();
    const std::string command = argv[1];
    ServiceBus service;
    if (!service.status().ok()) {
        std::printf("failed connecting to the service: %s\n", service.status().message.c_str());
        return 1;
    }
    if (command == "setup" && argc == 3) return setup(service, argv[2]);
    if (command == "send" && argc == 4) return send(service, argv[2], std::filesystem::absolute(argv[3]));
    if (command == "recv" && argc == 4) return receive(service, argv[2], std::filesystem::absolute(argv[3]));
    if (command == "sendmany" && argc == 5)
        return sendMany(service, argv[2], std::filesystem::absolute(argv[3]), std::atoi(argv[4]));
    if (command == "sendseq" && argc == 5 && std::atoi(argv[4]) > 0)
        return sendSequence(service, argv[2], std::filesystem::absolute(argv[3]), std::atoi(argv[4]));
    usage();
}
