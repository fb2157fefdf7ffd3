#include "platform/NamedMutex.h"

#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/TestSupport.h"

using namespace plx;

namespace {

// Read, pause, write: loses updates unless the lock serialises it.
void incrementCounter(const std::filesystem::path& file) {
    long value = 0;
    {
        std::ifstream in(file);
        in >> value;
    }
    std::this_thread::yield();
    std::ofstream(file, std::ios::trunc) << value + 1;
}

long readCounter(const std::filesystem::path& file) {
    long value = 0;
    std::ifstream(file) >> value;
    return value;
}

} // namespace

TEST(NamedMutex, SameThreadMayTakeItAgain) {
    test::ScopedHome home;
    NamedMutex a("Korvane/PLX test-recursive");
    NamedMutex b("Korvane/PLX test-recursive"); // same name, same lock
    a.lock();
    b.lock();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        std::lock_guard g(a);
        taken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken);
    b.unlock(); // the outer take still holds it
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(taken);
    a.unlock();
    other.join();
    EXPECT_TRUE(taken);
}

namespace {

void runCounterContest(const std::filesystem::path& counter);

} // namespace

TEST(NamedMutex, SerialisesThreadsAndProcesses) {
    test::ScopedHome home;
    runCounterContest(home / "counter");
}

TEST(NamedMutex, StillExcludesAfterItsLockFileWasRemoved) {
    test::ScopedHome home;
    {
        NamedMutex m("Korvane/PLX test-counter");
        std::lock_guard g(m); // opens the lock file in this process
    }
    std::filesystem::remove_all(runtimeFolder()); // a cleaned runtime folder
    runCounterContest(home / "counter");
}

namespace {

void runCounterContest(const std::filesystem::path& counter) {
    test::writeFile(counter, "0");
    constexpr int kRounds = 150;
    constexpr int kChildren = 3;

    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            NamedMutex m("Korvane/PLX test-counter");
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard g(m);
                incrementCounter(counter);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            NamedMutex m("Korvane/PLX test-counter");
            for (int i = 0; i < kRounds; ++i) {
                std::lock_guard g(m);
                incrementCounter(counter);
            }
        });
    for (auto& t : threads) t.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(readCounter(counter), (kChildren + 2) * kRounds);
}

} // namespace

TEST(NamedMutex, DeadHolderReleasesTheLock) {
    test::ScopedHome home;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        NamedMutex m("Korvane/PLX test-dead");
        m.lock();
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        ::pause(); // killed while holding the lock
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    NamedMutex m("Korvane/PLX test-dead");
    std::lock_guard g(m); // would hang if the dead child still held it
    SUCCEED();
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(NamedMutex, TimedTakeGivesUpWhileAnotherHolds) {
    test::ScopedHome home;
    NamedMutex m("Korvane/PLX test-timed");
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        NamedMutex held("Korvane/PLX test-timed");
        held.lock();
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        held.unlock();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_FALSE(m.try_lock_for(std::chrono::milliseconds(100))); // held by another process
    (void)!::write(release[1], &c, 1);
    ASSERT_TRUE(m.try_lock_for(test::hangCeiling()));
    std::thread other([&] { EXPECT_FALSE(m.try_lock_for(std::chrono::milliseconds(50))); }); // held by this thread
    other.join();
    EXPECT_TRUE(m.try_lock_for(std::chrono::milliseconds(0))); // the owner takes it again at once
    m.unlock();
    m.unlock();
    ::waitpid(pid, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}
