#include "centerlink/SessionControl.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

#include "api/ResultCodes.h"
#include "tests/TestSupport.h"

using namespace plx;

TEST(CountingSemaphore, CountsAreHeldUntilTheHolderEnds) {
    const std::string name = "test-sem-hold";
    CountingSemaphore session(100, name);
    ASSERT_TRUE(session.acquire(1, 100));
    {
        CountingSemaphore closing(100, name);
        EXPECT_TRUE(closing.acquire(0, 0));
        EXPECT_EQ(closing.heldCount(), 0);
        EXPECT_FALSE(closing.acquire(-1, 0));
        // One session runs: all 100 cannot be had, and the 99 free ones stay held.
        EXPECT_FALSE(closing.acquire(100, 0));
        EXPECT_EQ(closing.heldCount(), 99);
        CountingSemaphore another(100, name);
        EXPECT_FALSE(another.acquire(1, 50));
        // A second acquire never asks for more than what is missing.
        session.Unlock();
        EXPECT_TRUE(closing.acquire(100, 0));
        EXPECT_EQ(closing.heldCount(), 100);
        EXPECT_TRUE(closing.acquire(5, 0));
        EXPECT_EQ(closing.heldCount(), 100);
    }
    CountingSemaphore after(100, name);
    EXPECT_TRUE(after.acquire(100, 0)); // everything came back
}

TEST(CountingSemaphore, AWaitingAcquireGetsAReleasedCount) {
    const std::string name = "test-sem-wait";
    auto holder = std::make_unique<CountingSemaphore>(1, name);
    ASSERT_TRUE(holder->acquire(1, 0));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.reset();
    });
    CountingSemaphore waiter(1, name);
    EXPECT_TRUE(waiter.acquire(1, static_cast<int>(test::hangCeiling().count())));
    release.join();
}

TEST(CountingSemaphore, ASessionWaitingForACountEndsWhenTheEventIsSet) {
    SessionEvent::reset();
    const std::string name = "test-sem-stop";
    CountingSemaphore closing(1, name);
    ASSERT_TRUE(closing.acquire(1, 0));
    std::thread setter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SessionEvent::set();
    });
    CountingSemaphore session(1, name);
    EXPECT_FALSE(session.acquireUnlessStopped(1, 60000));
    setter.join();
    EXPECT_EQ(session.heldCount(), 0);
    closing.Unlock();
    EXPECT_FALSE(session.acquireUnlessStopped(1, 0)); // no session starts once the service closes
    EXPECT_TRUE(session.acquire(1, 0));               // the close itself still gathers its counts
    SessionEvent::reset();
}

TEST(SessionEvent, StaysSetOnceSet) {
    SessionEvent::reset();
    EXPECT_FALSE(SessionEvent::isSet());
    EXPECT_FALSE(SessionEvent::waitFor(std::chrono::milliseconds(10)));
    std::thread setter([] { SessionEvent::set(); });
    EXPECT_TRUE(SessionEvent::waitFor(test::hangCeiling()));
    setter.join();
    EXPECT_TRUE(SessionEvent::isSet());
    pollfd readable{SessionEvent::waitFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&readable, 1, 0), 1);
    SessionEvent::reset();
    EXPECT_EQ(::poll(&readable, 1, 0), 0);
}

TEST(ResultCodes, BothTables) {
    EXPECT_EQ(centerResultText(1), "01=通信障害");
    EXPECT_EQ(centerResultText(10), "10=電文不正");
    EXPECT_EQ(centerResultText(13), "13:相手端末ID不正");
    EXPECT_EQ(centerResultText(33), "33:二重ファイル伝送");
    for (int code : {0, 20, 42, 99}) EXPECT_EQ(centerResultText(code), "99:その他障害") << code;
    EXPECT_EQ(centerResultMessage(13), "相手端末不正");
    EXPECT_EQ(centerResultMessage(33), "二重ファイル転送");
    EXPECT_EQ(centerResultMessage(51), "データ解凍失敗");
    for (int code : {0, 1, 20, 42, 99})
        EXPECT_EQ(centerResultMessage(code), "集配信中にその他障害が発生しました") << code;
}
