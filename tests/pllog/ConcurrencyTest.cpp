#include <gtest/gtest.h>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/LogBridge.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;

namespace {

// Longer than a stdio buffer, so a line written in pieces would show.
const std::string kPadding(5000, 'p');

void writeRecords(const std::string& writer, int count) {
    for (int i = 0; i < count; ++i) callLogAPI(0, 0, 0, "", "", writer, std::to_string(i) + "," + kPadding);
}

// Every (writer, number) once, each line whole.
void expectWholeLines(const std::vector<std::string>& lines, int writers, int count) {
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto& line : lines) {
        auto f = test::splitFields(line);
        ASSERT_EQ(f.size(), 8u) << line.substr(0, 80);
        EXPECT_EQ(f[7], kPadding);
        EXPECT_TRUE(seen.emplace(f[5], f[6]).second) << f[5] << " " << f[6];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * count));
}

} // namespace

TEST(PllogConcurrency, ThreadsNeverTearLines) {
    LogFolders logs;
    constexpr int kThreads = 8, kRecords = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(writeRecords, "T" + std::to_string(t), kRecords);
    for (auto& thread : threads) thread.join();
    auto lines = logs.apiLines();
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRecords));
    expectWholeLines(lines, kThreads, kRecords);
}

TEST(PllogConcurrency, ProcessesNeverTearLines) {
    LogFolders logs;
    constexpr int kProcesses = 4, kRecords = 100;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            writeRecords("P" + std::to_string(p), kRecords);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto lines = logs.apiLines();
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kRecords));
    expectWholeLines(lines, kProcesses, kRecords);
}
