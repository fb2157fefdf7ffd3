// The center's side of the road: the center simulator's gateway connects to
// the running service, fetches what an application staged and delivers a
// file that an application then picks up.
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "platform/UniqueFd.h"
#include "service/gateway/CenterNetworkState.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::PeerProcess;
using test::runGateway;
using test::ServiceOnBus;

namespace {

struct Events {
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> seen;
    void record(int code, const std::string& type) {
        std::lock_guard lock(mutex);
        seen.emplace_back(code, type);
    }
    std::vector<int> codes() {
        std::lock_guard lock(mutex);
        std::vector<int> out;
        for (auto& [code, type] : seen) out.push_back(code);
        return out;
    }
};

// The "results" object of a gateway summary: the ResultCode of each stage.
std::string results(const std::string& summary) {
    auto at = summary.find("\"results\": ");
    if (at == std::string::npos) return "<no results>";
    at += 11;
    return summary.substr(at, summary.find('}', at) + 1 - at);
}

std::string results(int auth, int file, int report) {
    auto text = [](int code) { return code < 0 ? std::string("null") : std::to_string(code); };
    return "{\"auth\": " + text(auth) + ", \"file\": " + text(file) + ", \"report\": " + text(report) + "}";
}

constexpr int kNone = -1;

class GatewayRoad : public ::testing::Test {
protected:
    void SetUp() override {
        port = test::freeLoopbackPort();
        service = std::make_unique<ServiceOnBus>("[http]\ndaemon=yes\nterminalport=" + std::to_string(port) + "\n");
        ASSERT_TRUE(test::waitForPort(port, 10));
        bus = service->connect();
        client = std::make_unique<ClientProxy>(*bus);
        client->onRecvRequest = [this](std::int32_t code, const std::string& type) { events.record(code, type); };
        client->PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:1/", "pw", "1.0", "", "", "");
        client->PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 1, "");
        client->Advise(); // an application is connected
        factory = std::make_unique<FactoryProxy>(*bus);
        transport = std::make_unique<TransportProxy>(*bus, factory->CreateTransport());
    }
    void waitForEvents(std::size_t count) {
        test::waitFor([&] { return events.codes().size() >= count; });
    }

    int port = 0;
    std::unique_ptr<ServiceOnBus> service;
    std::unique_ptr<sdbus::IConnection> bus;
    std::unique_ptr<ClientProxy> client;
    std::unique_ptr<FactoryProxy> factory;
    std::unique_ptr<TransportProxy> transport;
    Events events;
};

} // namespace

TEST_F(GatewayRoad, TheCenterFetchesAStagedFile) {
    std::string data(100000, 'f');
    test::writeFile(service->home() / "out.dat", data);
    transport->PLSetData("K001", service->home().string(), "out.dat", 3, 0);
    auto [code, summary] = runGateway(port, {"--mode", "fetch", "--out", (service->home() / "fetched").string()});
    EXPECT_EQ(code, 0) << summary;
    EXPECT_EQ(test::readFile(service->home() / "fetched"), data);
    waitForEvents(2);
    EXPECT_EQ(events.codes(), (std::vector<int>{1, 2}));
    RetrieveProxy retrieve(*bus, factory->CreateRetrieve());
    ASSERT_EQ(retrieve.PLSearchSent("K001", "", "", "", 0), 1);
    EXPECT_EQ(fromBus(retrieve.PLSearchSentAt(0)).Status, 2); // fetched
}

TEST_F(GatewayRoad, TheCenterDeliversAFileThatIsPickedUp) {
    auto [code, summary] = runGateway(port, {"--mode", "deliver", "--data", "delivered by the center",
                                             "--data-file-name", "in.dat", "--compress", "1"});
    EXPECT_EQ(code, 0) << summary;
    waitForEvents(2);
    EXPECT_EQ(events.codes(), (std::vector<int>{4, 5}));
    std::filesystem::create_directory(service->home() / "inbox");
    std::int32_t count = transport->PLGetData("K001", "", "", "", 0, 0, 0, (service->home() / "inbox").string(), "");
    ASSERT_EQ(count, 1);
    EXPECT_EQ(test::readFile(service->home() / "inbox" / "in.dat"), "delivered by the center");
}

// A peer that trickles a request a byte at a time holds the gateway no
// longer than the tcp time-out, however often it sends: the next center is
// served.
TEST_F(GatewayRoad, ATricklingPeerIsCutAtTheRequestsDeadline) {
    const auto tcp = std::chrono::seconds(2);
    test::writeFile(service->home() / "pltimeout.ini", "[timeout]\ntcp=" + std::to_string(tcp.count()) + "\n");
    test::writeFile(service->home() / "out.dat", "staged");
    transport->PLSetData("K001", service->home().string(), "out.dat", 3, 0);
    UniqueFd peer = test::connectLoopback(port);
    ASSERT_TRUE(peer);
    const auto connected = std::chrono::steady_clock::now();
    // A byte every half second until the gateway closes the connection.
    std::atomic<bool> done{false};
    std::chrono::steady_clock::duration held{};
    std::thread trickle([&] {
        char c;
        for (pollfd closed{peer.get(), POLLIN, 0}; !done && ::send(peer.get(), "P", 1, MSG_NOSIGNAL) == 1;)
            if (::poll(&closed, 1, 500) == 1 && ::recv(peer.get(), &c, 1, 0) <= 0) break;
        held = std::chrono::steady_clock::now() - connected;
    });
    auto [code, summary] = runGateway(port, {"--mode", "fetch", "--out", (service->home() / "fetched").string()});
    done = true;
    trickle.join();
    EXPECT_EQ(code, 0) << summary;
    EXPECT_EQ(test::readFile(service->home() / "fetched"), "staged");
    EXPECT_LT(held, test::scaled(tcp)); // the trickle alone would hold it as long as it lasts
}

// A request that does not authenticate gets its refusal and the connection
// ends: a peer without credentials cannot wait out the center's later
// time-outs. The next center is served.
TEST_F(GatewayRoad, ARequestThatDoesNotAuthenticateEndsTheConnection) {
    const auto tcp = std::chrono::seconds(2); // a next exchange would be waited for 120 s
    test::writeFile(service->home() / "pltimeout.ini",
                    "[timeout]\ntcp=" + std::to_string(tcp.count()) + "\ncenter_file=120\ncenter_report=120\n");
    test::writeFile(service->home() / "out.dat", "staged");
    transport->PLSetData("K001", service->home().string(), "out.dat", 3, 0);
    UniqueFd peer = test::connectLoopback(port);
    ASSERT_TRUE(peer);
    timeval bound{std::chrono::duration_cast<std::chrono::seconds>(test::scaled(tcp)).count(), 0};
    ::setsockopt(peer.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    auto started = std::chrono::steady_clock::now();
    test::sendText(peer.get(), "POST /getfile HTTP/1.1\r\nContent-Length: 4\r\n\r\n<x/>");
    std::string reply = test::readHttpMessage(peer.get());
    EXPECT_NE(reply.find("<ResultCode>10</ResultCode>"), std::string::npos) << reply;
    char byte = 0;
    EXPECT_EQ(::recv(peer.get(), &byte, 1, 0), 0); // the service closed it, before our bound
    EXPECT_LT(std::chrono::steady_clock::now() - started, test::scaled(tcp));

    auto [code, summary] = runGateway(port, {"--mode", "fetch", "--out", (service->home() / "fetched").string()});
    EXPECT_EQ(code, 0) << summary;
    EXPECT_EQ(test::readFile(service->home() / "fetched"), "staged");
}

// The authentication is accepted (event 4) before the receive file is
// made; a file that cannot be made refuses the accepted delivery.
TEST_F(GatewayRoad, AReceiveFileThatCannotBeMadeRefusesTheAcceptedDelivery) {
    std::filesystem::remove_all(service->home() / "temp");
    auto [code, summary] = runGateway(port, {"--mode", "deliver", "--data", "x", "--data-file-name", "in.dat"});
    EXPECT_EQ(code, 1) << summary;
    EXPECT_EQ(results(summary), results(99, kNone, kNone));
    waitForEvents(3);
    EXPECT_EQ(events.codes(), (std::vector<int>{4, 4, 6}));
    auto records = test::sessionRecords(service->home(), "30");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][4] + "/" + records[0][5], "11/99");
}

TEST_F(GatewayRoad, RefusalsAndMisuseLeaveTheStagedEntryAlone) {
    test::writeFile(service->home() / "out.dat", "staged");
    transport->PLSetData("K001", service->home().string(), "out.dat", 3, 0);
    RetrieveProxy retrieve(*bus, factory->CreateRetrieve());
    auto staged = [&] {
        EXPECT_EQ(retrieve.PLSearchSent("K001", "", "", "", 0), 1);
        return fromBus(retrieve.PLSearchSentAt(0)).Status;
    };
    struct Case {
        std::vector<std::string> args;
        std::string results;
    };
    const std::vector<Case> cases = {
        {{"--password", "bad"}, results(15, kNone, kNone)},
        // A cookie of no session: GetFile's 99, and its report is echoed.
        {{"--fault", "empty-cookie@file"}, results(0, 99, 99)},
        // A PutFile in a fetch: outside its conversation, as is the report after it.
        {{"--fault", "swap-method"}, results(0, 10, 10)},
        {{"--fault", "drop-after-auth"}, results(0, kNone, kNone)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--mode", "fetch"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto [code, summary] = runGateway(port, args);
        EXPECT_EQ(code, 1) << summary;
        EXPECT_EQ(results(summary), c.results) << c.args.back();
        EXPECT_EQ(staged(), 1) << c.args.back(); // still waiting for the center
    }
    waitForEvents(8);
    EXPECT_EQ(events.codes(), (std::vector<int>{1, 3, 1, 3, 1, 3, 1, 3}));
    auto records = test::sessionRecords(service->home(), "40");
    ASSERT_EQ(records.size(), 4u);
    std::vector<std::string> seen;
    for (const auto& r : records) seen.push_back(r[0] + "/" + r[4] + "/" + r[5]);
    EXPECT_EQ(seen, (std::vector<std::string>{"2/10/15", "2/20/99", "2/20/01", "2/20/01"}));

    // And a proper fetch still works afterwards.
    auto [code, summary] = runGateway(port, {"--mode", "fetch"});
    EXPECT_EQ(code, 0) << summary;
    EXPECT_EQ(results(summary), results(0, 0, 0));
    EXPECT_EQ(staged(), 2);
}

TEST_F(GatewayRoad, HostileDeliveriesAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string results;
    };
    const std::vector<Case> cases = {
        {{"--data-file-name", "../escape.dat"}, results(10, kNone, kNone)},
        // Entity names a local file: refused, and the center's report of it echoed.
        {{"--fault", "entity-path=/etc/hostname"}, results(0, 41, 41)},
        {{"--fault", "doctype"}, results(10, kNone, kNone)},
        {{"--fault", "bad-md5"}, results(0, 51, 51)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--mode", "deliver", "--data", "x"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto [code, summary] = runGateway(port, args);
        EXPECT_EQ(code, 1) << summary;
        EXPECT_EQ(results(summary), c.results) << c.args.back();
    }
    waitForEvents(6);
    EXPECT_EQ(events.codes(), (std::vector<int>{4, 6, 4, 6, 4, 6})); // a message that cannot be read names no transfer
    RetrieveProxy retrieve(*bus, factory->CreateRetrieve());
    EXPECT_EQ(retrieve.PLSearchReceived("K001", "", "", "", 0, 0, 0), 0); // nothing kept
    EXPECT_FALSE(std::filesystem::exists(service->home() / "plcenter.ini") &&
                 test::readFile(service->home() / "plcenter.ini").find('[') != std::string::npos);
    EXPECT_TRUE(std::filesystem::exists("/etc/hostname"));
    for (const auto& e : std::filesystem::directory_iterator(service->home() / "temp"))
        EXPECT_NE(e.path().filename().string().rfind("@zv", 0), 0u) << e.path();
}

TEST_F(GatewayRoad, AStopDuringADeliveryLeavesNoEntryInProgress) {
    std::vector<std::string> argv =
        test::gatewayArgv(port, {"--mode", "deliver", "--data", "late", "--fault", "slow=20@file"});
    PeerProcess center(argv, true);
    // The authentication creates the delivery's entry in progress.
    auto registerText = [&] {
        std::error_code ec;
        return std::filesystem::exists(service->home() / "plcenter.ini", ec)
                   ? test::readFile(service->home() / "plcenter.ini")
                   : std::string();
    };
    ASSERT_TRUE(test::waitFor([&] { return registerText().find("status=3") != std::string::npos; }));
    ::kill(service->pid(), SIGTERM);
    EXPECT_EQ(service->waitExit(30), 0);
    EXPECT_EQ(registerText().find("status=3"), std::string::npos);
}

TEST_F(GatewayRoad, ADeliveryCutOffInItsBodyLeavesNothing) {
    auto [code, summary] =
        runGateway(port, {"--mode", "deliver", "--data", std::string(50000, 'c'), "--fault", "truncate@file"});
    EXPECT_EQ(code, 1) << summary;
    EXPECT_EQ(results(summary), results(0, kNone, kNone));
    waitForEvents(2);
    EXPECT_EQ(events.codes(), (std::vector<int>{4, 6}));
    RetrieveProxy retrieve(*bus, factory->CreateRetrieve());
    EXPECT_EQ(retrieve.PLSearchReceived("K001", "", "", "", 0, 0, 0), 0);
    for (const auto& e : std::filesystem::directory_iterator(service->home() / "temp"))
        EXPECT_NE(e.path().filename().string().rfind("@zv", 0), 0u) << e.path();
    // Logged as cut off while the file message came in: phase 20, result 01.
    auto records = test::sessionRecords(service->home(), "30");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0] + "/" + records[0][4] + "/" + records[0][5], "2/20/01");
}

TEST(GatewayOverTls, TheTerminalRegistersAtStartAndServesTheGatewayWithItsCertificate) {
    test::CenterSimulator center({"--tls", "--terminal-id", "1001", "--center-id", "9001", "--password", "pw"});
    int port = test::freeLoopbackPort();
    ServiceOnBus service(
        "[http]\ndaemon=yes\nssl=yes\nterminalport=" + std::to_string(port) + "\n",
        "[terminfo]\nterminalid=1001\ncenterid=9001\npassword=pw\nprotocolversion=1.0\ncenterurl=https://127.0.0.1:" +
            std::to_string(center.port()) + "/\n");
    ASSERT_TRUE(test::waitForPort(port, 20));
    EXPECT_TRUE(std::filesystem::file_size(service.home() / "temp" / "zorvantike.cert") > 0);

    auto bus = service.connect();
    ClientProxy client(*bus);
    client.PLSetFileInfo("K001", "kind", 7, "PF01", "AK0001", -1, 0, "");
    client.Advise();
    // The gateway checks the terminal's certificate against the center's CA.
    auto [code, summary] = runGateway(port, {"--mode", "deliver", "--tls", "--ca", center.caCertificate(), "--data",
                                             "over TLS", "--data-file-name", "tls.dat"});
    EXPECT_EQ(code, 0) << summary;
    FactoryProxy factory(*bus);
    TransportProxy transport(*bus, factory.CreateTransport());
    std::filesystem::create_directory(service.home() / "inbox");
    EXPECT_EQ(transport.PLGetData("K001", "", "", "", 0, 0, 0, (service.home() / "inbox").string(), ""), 1);
    EXPECT_EQ(test::readFile(service.home() / "inbox" / "tls.dat"), "over TLS");
}

// A close while the start registers the certificate with a center that
// never answers ends the process at once, not at the registration's time-out.
TEST(GatewayOverTls, ACloseEndsTheRegistrationAtStart) {
    test::CenterSimulator center({"--tls", "--fault", "silent@regist", "--silent-seconds", "120"});
    ServiceOnBus service("[http]\ndaemon=yes\nterminalport=" + std::to_string(test::freeLoopbackPort()) + "\n",
                         "[terminfo]\nterminalid=1001\ncenterid=9001\npassword=pw\ncenterurl=https://127.0.0.1:" +
                             std::to_string(center.port()) + "/\n");
    ASSERT_TRUE(test::waitFor([&] { return center.log().find("RegistTerminal") != std::string::npos; }));
    auto bus = service.connect();
    ServiceProxy serviceObject(*bus);
    EXPECT_TRUE(serviceObject.Close(true));
    EXPECT_EQ(service.waitExit(test::kCloseSeconds), 0);
}

// The detail of a socket failure is the Winsock number used everywhere
// else, not the system's own.
TEST(GatewaySocketError, IsTheWinsockNumber) {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &size), 0);
    UniqueFd peer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(peer.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    UniqueFd served(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    linger reset{1, 0};
    ::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    peer.reset(); // the peer resets the connection
    ASSERT_TRUE(test::waitFor([&] {
        pollfd arrived{served.get(), POLLIN, 0};
        return ::poll(&arrived, 1, 0) == 1;
    }));
    EXPECT_EQ(gateway::lastSocketError(served.get()), 10054);
}
