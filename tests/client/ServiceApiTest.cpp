// The client's handles on the service's objects, against the real service
// on a private bus.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "api/BusApi.h"
#include "client/ServiceApi.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::ScopedEnv;
using test::ServiceOnBus;

namespace {

TerminalRec terminal(const std::string& id, const std::string& url = "") {
    TerminalRec rec;
    rec.TerminalID = id;
    rec.CenterID = "9001";
    rec.CenterURL = url;
    rec.Password = "pw";
    rec.ProtocolVersion = "1.0";
    return rec;
}

FileRec kind(const std::string& fileType, const std::string& dataName, std::int32_t serviceNo) {
    FileRec rec;
    rec.FileType = fileType;
    rec.DataName = dataName;
    rec.ServiceNo = serviceNo;
    rec.ProtocolFilename = "PF" + fileType;
    rec.AccessKey = "AK0001";
    rec.RecordLength = -1;
    return rec;
}

void expectStatus(const CallStatus& status, std::int32_t code, std::int32_t detail, const std::string& message) {
    EXPECT_EQ(status.code, code) << status.message;
    EXPECT_EQ(status.detail, detail) << status.message;
    EXPECT_EQ(status.message, message);
}

void expectUnreachable(const CallStatus& status) {
    EXPECT_EQ(status.code, 1);
    EXPECT_EQ(status.detail, 99);
    EXPECT_EQ(status.message.rfind("サービスに接続できません", 0), 0u) << status.message;
}

} // namespace

TEST(ServiceApi, AFailedCallAnswersWithItsOwnTriple) {
    ServiceOnBus service;
    ServiceBus first;
    ServiceBus second;
    ASSERT_TRUE(first.status().ok()) << first.status().message;

    TerminalRec rec = terminal("");
    auto refused = first.client().PLSetTermInfo(rec);
    auto other = second.client().PLDeleteFileInfo("ABCDE");
    // The shared Client's properties now hold whichever came last; each
    // call still knows its own.
    expectStatus(refused.wait().status, 4, 1, "端末IDが未入力です");
    expectStatus(other.wait().status, 4, 1, "ファイル種別が4桁を超えました");
    expectStatus(first.client().PLGetFileInfoAt(5).wait().status, 2, 0, "不正なインデックスです：index=5");

    auto transport = first.createTransport().wait();
    ASSERT_TRUE(transport.status.ok());
    expectStatus(transport.value->PLSendData("K001", "/tmp", "").wait().status, 4, 3, "ファイル名が未入力です");
    // A success answers with a clear triple and the results.
    auto stored = first.client().PLSetTermInfo(terminal("1001")).wait();
    EXPECT_EQ(stored.status, CallStatus{});
    auto read = first.client().PLGetTermInfo().wait();
    EXPECT_TRUE(read.status.ok());
    EXPECT_EQ(read.value.TerminalID, "1001");
}

TEST(ServiceApi, TwoCallersListTheirOwnDataKinds) {
    ServiceOnBus service;
    ServiceBus a;
    ServiceBus b;
    for (const FileRec& rec : {kind("K001", "一", 1), kind("K002", "二", 2), kind("K003", "三", 3)})
        ASSERT_TRUE(a.client().PLSetFileInfo(rec).wait().status.ok());

    FileInfoQuery k002;
    k002.FileType = "K002";
    auto mine = a.client().PLGetFileInfo(k002).wait();
    auto all = b.client().PLGetFileInfo({}).wait();
    ASSERT_TRUE(mine.status.ok());
    EXPECT_EQ(mine.value, 1);
    EXPECT_EQ(all.value, 3);
    // b's search in between does not replace a's list.
    auto first = a.client().PLGetFileInfoAt(0).wait();
    ASSERT_TRUE(first.status.ok()) << first.status.message;
    EXPECT_EQ(first.value.FileType, "K002");
    EXPECT_EQ(first.value.DataName, "二");
    EXPECT_EQ(first.value.ServiceNo, 2);
    expectStatus(a.client().PLGetFileInfoAt(1).wait().status, 2, 0, "不正なインデックスです：index=1");
    EXPECT_EQ(b.client().PLGetFileInfoAt(2).wait().value.FileType, "K003");
}

TEST(ServiceApi, AnUnreachableServiceIsAFailure) {
    {
        test::PrivateBus empty; // a bus nobody serves on
        ScopedEnv bus("PLX_BUS", empty.address());
        ServiceBus link;
        expectUnreachable(link.client().PLGetTermInfo().wait().status);
        auto transport = link.createTransport().wait();
        expectUnreachable(transport.status);
        EXPECT_EQ(transport.value, nullptr);
    }
    {
        ScopedEnv bus("PLX_BUS", "unix:path=/nonexistent/plx-bus");
        ServiceBus link;
        expectUnreachable(link.status());
        expectUnreachable(link.client().PLGetFileInfo({}).wait().status);
    }
    {
        // The service ends while a caller still holds its objects.
        auto service = std::make_unique<ServiceOnBus>();
        ServiceBus link;
        auto transport = link.createTransport().wait().value;
        ASSERT_NE(transport, nullptr);
        service->stop();
        expectUnreachable(transport->PLSendData("K001", "/tmp", "x.dat").wait().status);
    }
}

TEST(ServiceApi, AHandleReleasesItsObject) {
    ServiceOnBus service;
    ServiceBus link;
    std::string path;
    {
        auto transport = link.createTransport().wait().value;
        ASSERT_NE(transport, nullptr);
        path = transport->path();
        EXPECT_TRUE(transport->Init(link.client().path()).wait().status.ok());
    }
    // Another caller can see whether the object is still there.
    auto c = service.connect();
    EXPECT_TRUE(test::waitFor([&] {
        try {
            TransportProxy probe(*c, path);
            (void)probe.LastErrorCd();
            return false;
        } catch (const sdbus::Error&) {
            return true;
        }
    }));
}

TEST(ServiceApi, EventsReachTheListenerAndItCounts) {
    test::CenterSimulator center({"--fault", "slow@file", "--slow-seconds", "1"});
    ServiceOnBus service("[notice]\ninterval=50\n");
    struct Recorder final : ClientEvents {
        std::atomic<int> sends{0};
        std::atomic<std::thread::id> thread{};
        ServiceBus* link = nullptr;
        CallStatus waitedInside;
        void PLSendStatus(std::int32_t, std::int32_t, std::int32_t) override {
            // The listener runs on the thread that delivers answers: waiting
            // there fails at once instead of hanging.
            if (sends++ == 0) waitedInside = link->client().GetAliveCount().wait().status;
            thread = std::this_thread::get_id();
        }
        void PLRecvStatus(std::int32_t, std::int32_t, std::int32_t) override {}
        void PLRecvRequest(std::int32_t, const std::string&) override {}
    } recorder;
    {
        ServiceBus link(&recorder);
        recorder.link = &link;
        ASSERT_TRUE(link.status().ok());
        EXPECT_EQ(link.client().GetAliveCount().wait().value, 1);
        std::string url = "http://127.0.0.1:" + std::to_string(center.port()) + "/";
        ASSERT_TRUE(link.client().PLSetTermInfo(terminal("1001", url)).wait().status.ok());
        FileRec rec = kind("K001", "送信", 7);
        rec.ProtocolFilename = "PF01";
        ASSERT_TRUE(link.client().PLSetFileInfo(rec).wait().status.ok());
        test::writeFile(service.home() / "data.dat", std::string(100000, 'x'));
        auto transport = link.createTransport().wait().value;
        auto sent = transport->PLSendData("K001", service.home().string(), "data.dat").wait();
        EXPECT_TRUE(sent.status.ok()) << sent.status.message;
        EXPECT_GT(recorder.sends.load(), 0);
        EXPECT_NE(recorder.thread.load(), std::this_thread::get_id());
        EXPECT_EQ(recorder.waitedInside.code, 1);
        EXPECT_EQ(recorder.waitedInside.detail, 99);
    }
    ServiceBus observer;
    EXPECT_EQ(observer.client().GetAliveCount().wait().value, 0); // the listener let go
}

TEST(ServiceApi, ALostBusNeitherHangsCallsNorTheHandlesEnd) {
    auto bus = std::make_unique<test::PrivateBus>();
    ScopedEnv address("PLX_BUS", bus->address());
    // A stand-in that takes the service's name and never answers.
    auto mute = sdbus::createSessionBusConnectionWithAddress(bus->address());
    mute->requestName(kBusName);
    auto object = sdbus::createObject(*mute, kClientPath);
    std::vector<sdbus::Result<std::int32_t>> unanswered;
    std::atomic<bool> asked{false};
    object->registerMethod("GetAliveCount")
        .onInterface(kClientInterface)
        .implementedAs([&](sdbus::Result<std::int32_t>&& r) {
            unanswered.push_back(std::move(r));
            asked = true;
        });
    object->finishRegistration();
    std::thread muteLoop([&] {
        try {
            mute->enterEventLoop();
        } catch (const sdbus::Error&) {
            // Its bus goes too.
        }
    });

    auto link = std::make_unique<ServiceBus>();
    ASSERT_TRUE(link->status().ok());
    auto waiting = link->client().GetAliveCount();
    EXPECT_TRUE(test::waitFor([&] { return asked.load(); }));
    ASSERT_FALSE(waiting.ready());
    bus.reset(); // the bus daemon ends
    expectUnreachable(waiting.wait().status);
    expectUnreachable(link->client().PLGetTermInfo().wait().status);
    link.reset(); // returns
    muteLoop.join();
}
