#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::TempDir;

TEST(ChildProcess, RunsWithExtraEnvironmentAndReportsTheExit) {
    TempDir dir;
    ChildProcess child({"/bin/sh", "-c", "echo \"$PLX_X:$1\" > \"$0\"; exit 7", (dir / "out").string(), "arg"},
                       ChildOptions{.extraEnv = {"PLX_X=value"}});
    auto status = child.waitFor(test::hangCeiling());
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
    auto status = child.waitFor(test::hangCeiling());
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

TEST(ChildProcess, FindsTheProgramOnPathOnlyWhenAsked) {
    ChildProcess found({"sh", "-c", "exit 3"}, ChildOptions{.searchPath = true});
    auto status = found.waitFor(test::hangCeiling());
    ASSERT_TRUE(status);
    EXPECT_EQ(exitCodeOf(*status), 3);

    TempDir empty;
    try {
        ChildProcess child({"sh", "-c", "exit 0"}, ChildOptions{.workingFolder = empty.path()});
        FAIL() << "a bare name ran without a PATH search";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
}

TEST(ChildProcess, OutputAndErrorsGoWhereTheOwnerSays) {
    TempDir dir;
    ChildProcess toFiles({"/bin/sh", "-c", "pwd; echo oops >&2; read line; echo \"[$line]\""},
                         ChildOptions{.input = ChildStream::null(),
                                      .output = ChildStream::toFile(dir / "out"),
                                      .errors = ChildStream::toFile(dir / "err"),
                                      .workingFolder = dir.path()});
    ASSERT_TRUE(toFiles.waitFor(test::hangCeiling()));
    EXPECT_EQ(test::readFile(dir / "out"), dir.path().string() + "\n[]\n");
    EXPECT_EQ(test::readFile(dir / "err"), "oops\n");

    ChildProcess toPipe({"/bin/sh", "-c", "echo out; echo err >&2"},
                        ChildOptions{.output = ChildStream::pipe(), .errors = ChildStream::pipe()});
    std::string text;
    char buffer[64];
    ssize_t n;
    while ((n = ::read(toPipe.output(), buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(text, "out\nerr\n");
    ASSERT_TRUE(toPipe.waitFor(test::hangCeiling()));
}

TEST(ChildProcess, TheProgramRunsUnderTheNameInArgv) {
    TempDir dir;
    ChildProcess child({"given-name", "-c", "echo \"$0\""},
                       ChildOptions{.program = "/bin/sh", .output = ChildStream::toFile(dir / "out")});
    ASSERT_TRUE(child.waitFor(test::hangCeiling()));
    EXPECT_EQ(test::readFile(dir / "out"), "given-name\n");
}

TEST(ChildProcess, TerminateKillsAChildThatIgnoresTheRequest) {
    TempDir dir;
    ChildProcess child({"/bin/sh", "-c", "trap '' TERM; echo ready; exec sleep 600"},
                       ChildOptions{.output = ChildStream::pipe()});
    char c = 0;
    ASSERT_EQ(::read(child.output(), &c, 1), 1); // the trap is set
    pid_t pid = child.pid();
    child.terminate(std::chrono::milliseconds(100));
    EXPECT_EQ(child.pid(), -1);
    EXPECT_NE(::kill(pid, 0), 0); // killed and reaped: no zombie either
}

TEST(ChildProcess, ADetachedChildIsReapedWhenItEnds) {
    ChildProcess child({"/bin/sh", "-c", "exit 0"});
    pid_t pid = child.pid();
    child.detach();
    // Gone once the reaper has collected it; a zombie would still answer.
    EXPECT_TRUE(test::waitFor([pid] { return ::kill(pid, 0) != 0; }));
}

TEST(RunProgram, ReportsTheExitCodeOrMinusOne) {
    EXPECT_EQ(runProgram({"sh", "-c", "exit 5"}), 5);
    EXPECT_EQ(runProgram({"/nonexistent/program"}), -1);
    EXPECT_EQ(runProgram({"sh", "-c", "kill -TERM $$"}), -1);
}
