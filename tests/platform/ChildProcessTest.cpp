#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "platform/ChildProcess.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::TempDir;

TEST(ChildProcess, RunsWithExtraEnvironmentAndReportsTheExit) {
    TempDir dir;
    ChildProcess child({"/bin/sh", "-c", "echo \"$PLX_X:$1\" > \"$0\"; exit 7", (dir / "out").string(), "arg"},
                       ChildOptions{.extraEnv = {"PLX_X=value"}});
    auto status = child.waitFor(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(exitCodeOf(*status), 7);
    EXPECT_EQ(test::readFile(dir / "out"), "value:arg\n");
    EXPECT_FALSE(child.waitFor(std::chrono::milliseconds(0))); // reaped once
}

TEST(ChildProcess, AProgramThatCannotStartIsAnError) {
    try {
        ChildProcess child({"/nonexistent/program"});
        FAIL() << "started";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
    TempDir dir;
    test::writeFile(dir / "plain", "not a program");
    EXPECT_THROW(ChildProcess({(dir / "plain").string()}), std::system_error);
}

TEST(ChildProcess, TheChildStartsWithNoSignalBlocked) {
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old);
    ChildProcess child({"/bin/sleep", "600"});
    ::kill(child.pid(), SIGTERM);
    auto status = child.waitFor(std::chrono::seconds(30));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
}

TEST(ChildProcess, TheOwnerEndsAChildItDidNotWaitFor) {
    pid_t pid;
    {
        ChildProcess child({"/bin/sleep", "600"});
        pid = child.pid();
        EXPECT_FALSE(child.waitFor(std::chrono::milliseconds(10)));
    }
    EXPECT_NE(::kill(pid, 0), 0);
}
