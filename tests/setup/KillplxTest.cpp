#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/ChildProcess.h"
#include "tests/service/BusFixture.h"
#include "tests/setup/InstalledTree.h"

using namespace plx;
using test::ScopedEnv;
using test::ServiceOnBus;
using test::TempDir;

namespace fs = std::filesystem;

namespace {

constexpr const char* kFailureLine = "アプリケーションの終了に失敗しました。\n";

struct TimedRun {
    test::ProgramRun run;
    std::chrono::duration<double> took;
};

// The installed killplx on the bus PLX_BUS names.
TimedRun killplx() {
    auto start = std::chrono::steady_clock::now();
    test::ProgramRun run = test::runCaptured({(test::installedTree() / "bin/killplx").string()});
    return {run, std::chrono::steady_clock::now() - start};
}

} // namespace

TEST(Killplx, WithNoServiceItEndsAtOnceAndStartsNothing) {
    // A bus that would start the service for anything sent to its name.
    TempDir services;
    fs::path started = services / "started";
    test::writeFile(services / "start.sh", "#!/bin/sh\ntouch '" + started.string() + "'\nexit 1\n");
    ::chmod((services / "start.sh").c_str(), 0755);
    test::writeFile(services / "com.korvane.PelorinIO.service",
                    "[D-BUS Service]\nName=com.korvane.PelorinIO\nExec=" + (services / "start.sh").string() + "\n");
    test::PrivateBus bus(services.path());
    ScopedEnv busEnv("PLX_BUS", bus.address());

    TimedRun result = killplx();
    EXPECT_EQ(result.run.exitCode, 0);
    EXPECT_EQ(result.run.err, "");
    EXPECT_LT(result.took.count(), 5.0); // no rounds were waited: 50 take 5 s
    EXPECT_FALSE(fs::exists(started));

    // The bus does start it for a call to the name, which killplx never makes.
    auto connection = openClientBus();
    auto proxy = sdbus::createProxy(*connection, "com.korvane.PelorinIO", "/");
    EXPECT_THROW(proxy->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"), sdbus::Error);
    EXPECT_TRUE(fs::exists(started));
}

TEST(Killplx, AnIdleServiceIsGone) {
    ServiceOnBus service;
    TimedRun result = killplx();
    EXPECT_EQ(result.run.exitCode, 0);
    EXPECT_EQ(result.run.err, "");
    EXPECT_EQ(service.waitExit(20), 0);
}

TEST(Killplx, AServiceWithARunningTransferRefusesFiftyRoundsThenTheFailureIsShown) {
    test::CenterSimulator center({"--fault", "slow@file", "--slow-seconds", "120"});
    ServiceOnBus service("[shutdown]\ncompulsion=no\n");
    auto c = service.connect();
    test::RunningSend send(service, *c, center);

    TimedRun result = killplx();
    EXPECT_EQ(result.run.exitCode, 0);
    EXPECT_EQ(result.run.err, kFailureLine);
    EXPECT_GE(result.took.count(), 5.0); // 50 rounds, 100 ms apart
    EXPECT_EQ(service.waitExit(0), -1);  // still serving its transfer

    ServiceProxy(*c).Close(true); // end it here rather than after the center's delay
    send.finish();
    EXPECT_EQ(service.waitExit(20), 0);
}

// A bus that will not say who owns the name is no sign that the service went.
TEST(Killplx, ABusThatCannotSayWhoOwnsTheNameIsNoSignTheServiceWent) {
    ServiceOnBus service("", "",
                         "<policy context=\"default\"><deny send_destination=\"org.freedesktop.DBus\" "
                         "send_interface=\"org.freedesktop.DBus\" send_member=\"GetNameOwner\"/></policy>");
    TimedRun result = killplx();
    EXPECT_EQ(result.run.exitCode, 0);
    EXPECT_TRUE(result.run.err.ends_with(kFailureLine)) << result.run.err;
    EXPECT_NE(result.run.err.find("AccessDenied"), std::string::npos) << result.run.err;
    EXPECT_EQ(service.waitExit(0), -1);
}

// A service that takes no more calls (stopped here) holds killplx a bounded
// time, not ten minutes a round.
TEST(Killplx, AHungServiceHoldsItABoundedTime) {
    ServiceOnBus service;
    TempDir dir;
    ASSERT_TRUE(test::stopProcess(service.pid()));
    ChildProcess killplx({(test::installedTree() / "bin/killplx").string()},
                         ChildOptions{.errors = ChildStream::toFile(dir / "err")});
    // Its own bound: no round starts after 20 s, and a round awaits its answer 3 s.
    auto status = killplx.waitFor(test::scaled(std::chrono::seconds(23)));
    ::kill(service.pid(), SIGCONT);
    ASSERT_TRUE(status) << "still waiting";
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    std::string err = test::readFile(dir / "err");
    EXPECT_TRUE(err.ends_with(kFailureLine)) << err;
}
