#include <atomic>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/IniLocks.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::ServiceOnBus;

namespace {

// The error reply of a failed call; empty when the call succeeded.
template <typename Call>
std::pair<std::string, std::string> failureOf(Call call) {
    try {
        call();
    } catch (const sdbus::Error& e) {
        return {e.getName(), e.getMessage()};
    }
    return {};
}

void defineKind(ClientProxy& client, const std::string& type, const std::string& pfn) {
    client.PLSetFileInfo(type, "データ" + type, 1, pfn, "AK" + type, 128, 0, "");
}

} // namespace

TEST(BusApi, EveryCallerSharesTheOneClientButNotItsSearch) {
    ServiceOnBus service;
    auto a = service.connect();
    auto b = service.connect();
    ClientProxy clientA(*a), clientB(*b);
    defineKind(clientA, "K001", "PFA");
    defineKind(clientA, "K002", "PFB");
    ASSERT_EQ(clientA.PLGetFileInfo("", 0, "PFB", "", 0, 0), 1);
    // B has searched nothing: A's results are A's.
    EXPECT_EQ(failureOf([&] { clientB.PLGetFileInfoAt(0); }).second, "不正なインデックスです：index=0");
    FileRec found = fromBus(clientA.PLGetFileInfoAt(0));
    EXPECT_EQ(found.FileType, "K002");
    EXPECT_EQ(found.DataName, "データK002");
    EXPECT_EQ(found.RecordLength, 128);
    // The triple is the one object's: A sees B's failure.
    failureOf([&] { clientB.PLGetFileInfoAt(5); });
    EXPECT_EQ(clientA.LastErrorCd(), 2);
    EXPECT_EQ(clientA.LastErrorMsg(), "不正なインデックスです：index=5");
}

TEST(BusApi, FailuresAnswerWithTheErrorTripleText) {
    ServiceOnBus service;
    auto c = service.connect();
    ClientProxy client(*c);
    auto [name, message] = failureOf([&] { client.PLSetFileInfo("K001", "name", -1, "PF", "AK", 0, 0, ""); });
    EXPECT_EQ(name, kErrorName);
    EXPECT_EQ(message, "不正な業務番号です");
    EXPECT_EQ(client.LastErrorCd(), 4);
    EXPECT_EQ(client.LastErrorCdDetail(), 3); // the third argument
    EXPECT_EQ(client.LastErrorMsg(), message);

    client.PLSetFileInfo("K001", "name", 1, "PF", "AK", 0, 0, "");
    EXPECT_EQ(client.LastErrorCd(), 0);
    EXPECT_EQ(client.LastErrorCdDetail(), 0);
    EXPECT_EQ(client.LastErrorMsg(), "");
}

TEST(BusApi, TermInfoRoundTripAndRecordOrder) {
    ServiceOnBus service;
    auto c = service.connect();
    ClientProxy client(*c);
    client.PLSetTermInfo("1234", "5678", "center", "https://center.example/", "pw", "1.0", "proxy:8080", "user",
                         "secret");
    TerminalRec t = fromBus(client.PLGetTermInfo());
    EXPECT_EQ(t, (TerminalRec{"1234", "5678", "center", "https://center.example/", "pw", "1.0", "proxy:8080", "user",
                              "secret"}));
}

TEST(BusApi, ObjectsBelongToTheirCallerAndGoWithIt) {
    ServiceOnBus service;
    auto c = service.connect();
    ClientProxy client(*c);
    EXPECT_EQ(client.GetAliveCount(), 0);

    // A second program subscribes and creates an object, then dies.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto own = openClientBus();
            ClientProxy peerClient(*own);
            peerClient.Advise();
            FactoryProxy factory(*own);
            std::string path = factory.CreateTransport();
            (void)!::write(ready[1], path.c_str(), path.size() + 1);
            ::pause();
        } catch (...) {
        }
        ::_exit(1);
    }
    char path[256] = {};
    ASSERT_GT(::read(ready[0], path, sizeof path), 0);
    EXPECT_EQ(client.GetAliveCount(), 1);
    EXPECT_EQ(client.AliveCount(), 1);
    TransportProxy foreign(*c, path);
    // Another caller cannot release it.
    EXPECT_EQ(failureOf([&] { foreign.Release(); }).first, kErrorName);

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(test::waitFor(
        [&] { return client.GetAliveCount() == 0 && !failureOf([&] { foreign.LastErrorCd(); }).first.empty(); }));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(BusApi, ReleaseEndsTheObjectAndUnadviseTheSubscription) {
    ServiceOnBus service;
    auto c = service.connect();
    ClientProxy client(*c);
    FactoryProxy factory(*c);
    client.Advise();
    client.Advise();
    EXPECT_EQ(client.GetAliveCount(), 2);
    client.Unadvise();
    EXPECT_EQ(client.GetAliveCount(), 1);

    std::string path = factory.CreateRetrieve();
    RetrieveProxy retrieve(*c, path);
    retrieve.Init(sdbus::ObjectPath("/"));
    EXPECT_EQ(retrieve.LastErrorCd(), 0);
    retrieve.Release();
    // The object is gone once the service has had its next call.
    client.GetAliveCount();
    EXPECT_FALSE(failureOf([&] { retrieve.LastErrorCd(); }).first.empty());
}

// A call on a released object destroyed it inside its own handler and then
// read its call: the service died with every transfer.
TEST(BusApi, AReleasedObjectAnswersUnknownWhileOthersTransfersGoOn) {
    test::CenterSimulator center({"--fault", "slow@file", "--slow-seconds", "2"});
    ServiceOnBus service;
    auto c = service.connect();
    test::RunningSend send(service, *c, center);
    FactoryProxy factory(*c);
    const std::string path = factory.CreateTransport();
    TransportProxy released(*c, path);
    released.Release();
    const std::string unknown = "org.freedesktop.DBus.Error.UnknownObject";
    EXPECT_EQ(failureOf([&] { released.PLSendData("K001", service.home().string(), "data.dat"); }).first, unknown);
    EXPECT_EQ(failureOf([&] { released.LastErrorCd(); }).first, unknown);
    EXPECT_EQ(failureOf([&] { released.Release(); }).first, unknown);
    auto described = sdbus::createProxy(*c, kBusName, path);
    std::string xml;
    EXPECT_EQ(
        failureOf([&] {
            described->callMethod("Introspect").onInterface("org.freedesktop.DBus.Introspectable").storeResultsTo(xml);
        }).first,
        unknown);
    EXPECT_EQ(send.finish(), "");
    EXPECT_EQ(service.waitExit(0), -1);
}

// Any caller could send through another's Transport and read its triple.
TEST(BusApi, OnlyTheOwnerDrivesAnObject) {
    ServiceOnBus service;
    auto owner = service.connect();
    auto other = service.connect();
    FactoryProxy factory(*owner);
    const std::string path = factory.CreateTransport();
    TransportProxy theirs(*other, path);
    EXPECT_EQ(failureOf([&] { theirs.PLSendData("K001", service.home().string(), "data.dat"); }).second,
              "not an object of the caller");
    EXPECT_EQ(failureOf([&] { theirs.Init(sdbus::ObjectPath(path)); }).second, "not an object of the caller");
    TransportProxy mine(*owner, path);
    auto [name, message] = failureOf([&] { mine.PLSendData("K001", service.home().string(), "missing.dat"); });
    EXPECT_EQ(message, "指定されたファイルが存在しません");
}

// The events were broadcast: a caller that never advised saw every transfer.
TEST(BusApi, EventsReachOnlyTheAdvisedCallers) {
    test::CenterSimulator center;
    ServiceOnBus service;
    auto advised = service.connect();
    auto other = service.connect();
    ClientProxy listening(*advised), watching(*other);
    std::atomic<int> heard{0}, overheard{0};
    listening.onSendStatus = [&](std::int32_t, std::int32_t, std::int32_t) { ++heard; };
    watching.onSendStatus = [&](std::int32_t, std::int32_t, std::int32_t) { ++overheard; };
    listening.Advise();
    test::RunningSend send(service, *advised, center);
    EXPECT_EQ(send.finish(), "");
    watching.GetAliveCount(); // answered after any event sent to it before
    EXPECT_GT(heard.load(), 0);
    EXPECT_EQ(overheard.load(), 0);
}

TEST(BusApi, TransferFailuresAnswerWithTheObjectsTriple) {
    ServiceOnBus service;
    auto c = service.connect();
    FactoryProxy factory(*c);
    TransportProxy transport(*c, factory.CreateTransport());
    auto [name, message] = failureOf([&] { transport.PLSendData("K001", service.home().string(), "missing.dat"); });
    EXPECT_EQ(name, kErrorName);
    EXPECT_EQ(message, "指定されたファイルが存在しません");
    EXPECT_EQ(transport.LastErrorCd(), 3);
    EXPECT_EQ(transport.LastErrorCdDetail(), 2);
    EXPECT_EQ(transport.LastErrorMsg(), message);
    // The next failure replaces the triple.
    auto staged = failureOf([&] { transport.PLSetData("K001", service.home().string(), "a.dat", 1, 0); });
    EXPECT_EQ(staged.first, kErrorName);
    EXPECT_EQ(transport.LastErrorMsg(), staged.second);
}

TEST(BusApi, ABlockedCallDoesNotHoldUpOtherCallers) {
    ServiceOnBus service;
    auto a = service.connect();
    auto b = service.connect();
    ClientProxy clientA(*a), clientB(*b);
    clientA.PLSetTermInfo("1", "2", "", "", "pw", "", "", "", "");

    // Hold the data-kind lock from this process: the service's search waits for it.
    test::ScopedEnv runtime("PLX_RUNTIME_DIR", (service.home() / ".run").string());
    NamedLock held(fileIniMutex());
    std::atomic<bool> searchDone{false};
    std::thread search([&] {
        clientA.PLGetFileInfo("", 0, "", "", 0, 0);
        searchDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(searchDone);
    // Meanwhile another caller is served.
    EXPECT_EQ(fromBus(clientB.PLGetTermInfo()).TerminalID, "1");
    EXPECT_FALSE(searchDone);
    held.unlock();
    search.join();
    EXPECT_TRUE(searchDone);
}

// With every transfer thread busy, a PLGetTermInfo waited in line behind the
// transfers. Quick calls have threads of their own.
TEST(BusApi, QuickCallsNeverWaitBehindTransfers) {
    ServiceOnBus service;
    auto connection = service.connect();
    ClientProxy client(*connection);
    client.PLSetTermInfo("1", "2", "", "", "pw", "", "", "", "");
    defineKind(client, "K001", "PFA");
    test::writeFile(service.home() / "data.dat", "staged");
    auto transport = sdbus::createProxy(*connection, kBusName, FactoryProxy(*connection).CreateTransport());

    // Every staging waits for the register, which this process holds.
    test::ScopedEnv runtime("PLX_RUNTIME_DIR", (service.home() / ".run").string());
    NamedLock held(centerIniMutex());
    constexpr int kTransfers = 128; // as many threads as transfers get
    std::atomic<int> staged{0};
    for (int i = 0; i < kTransfers; ++i)
        transport->callMethodAsync("PLSetData")
            .onInterface(kTransportInterface)
            .withArguments(std::string("K001"), service.home().string(), std::string("data.dat"), 0, 3)
            .uponReplyInvoke([&](const sdbus::Error*, std::string) { ++staged; });
    auto threads = [&] {
        std::string status = test::readFile("/proc/" + std::to_string(service.pid()) + "/status");
        return std::stoi(status.substr(status.find("Threads:") + 8));
    };
    test::waitFor([&] { return threads() >= kTransfers; });
    ASSERT_GE(threads(), kTransfers);

    std::atomic<bool> answered{false};
    auto clientProxy = sdbus::createProxy(*connection, kBusName, kClientPath);
    clientProxy->callMethodAsync("PLGetTermInfo")
        .onInterface(kClientInterface)
        .uponReplyInvoke([&](const sdbus::Error*, BusTerminalRec) { answered = true; });
    EXPECT_TRUE(test::waitFor([&] { return answered.load(); }));
    EXPECT_EQ(staged, 0);

    held.unlock();
    test::waitFor([&] { return staged == kTransfers; });
    EXPECT_EQ(staged, kTransfers);
}
