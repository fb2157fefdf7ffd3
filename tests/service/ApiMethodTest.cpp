// The boundary of every API method: what a failure carried becomes the
// triple, and each call gets its own outcome back.
#include "service/classes/ApiMethod.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/service/TransferFixture.h"

using namespace plx;

namespace {

struct Boundary : ::testing::Test {
    test::ScopedHome home;
    ErrorTriple triple{kObjectMessageLimit};
    ApiMethod method{.name = "PLTest", .argumentLine = "", .defaultMessage = "既定の文"};

    ApiResult run(const std::function<void()>& body) { return runApiMethod(triple, method, body); }
};

} // namespace

TEST_F(Boundary, TheDetailIsTheSystemErrorCapturedWhereTheFailureHappened) {
    // errno changed after the throw never reaches the triple.
    ApiResult r = run([] {
        errno = ENOSPC;
        std::system_error failure(errno, std::generic_category(), "write");
        errno = EACCES;
        throw failure;
    });
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.code, kApiSystemError);
    EXPECT_EQ(r.detail, ENOSPC);
    EXPECT_EQ(r.message, "既定の文");
    EXPECT_EQ(r.systemError(), ENOSPC);

    r = run([] {
        errno = EIO;
        throw PLException(kApiSystemError, 0, "書けません");
    });
    EXPECT_EQ(r.detail, 0); // no system error was captured: none is made up
    EXPECT_EQ(r.message, "書けません");

    r = run([] { throw std::system_error(EROFS, std::generic_category(), "x"); });
    EXPECT_EQ(r.code, kApiSystemError);
    EXPECT_EQ(r.detail, EROFS);

    r = run([] {
        errno = EIO;
        throw std::runtime_error("x");
    });
    EXPECT_EQ(r.code, kApiSystemError);
    EXPECT_EQ(r.detail, 0);
    EXPECT_EQ(triple.detail(), 0);
}

TEST_F(Boundary, AnExactFailureKeepsWhatTheDefaultsWouldFill) {
    ApiResult r = run([] { throw PLException(kApiOk, 0, "", PLException::kExact); });
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.message, "");
    r = run([] { throw argumentError(3, "三番目"); });
    EXPECT_EQ(r.code, kApiBadArgument);
    EXPECT_EQ(r.detail, 3);
    EXPECT_EQ(r.systemError(), 0);

    method.defaultCode = kApiNotReady;
    r = run([] { throw PLException(kApiOk, 7, ""); });
    EXPECT_EQ(r.code, kApiNotReady);
    EXPECT_EQ(r.detail, 7);
    EXPECT_FALSE(run([] {}).failed);
    EXPECT_EQ(triple.code(), 0);
}

// Calls on one object run at once; each answers with its own triple, never
// with the one another call stored a moment later.
TEST(Transfers, EachCallOnOneObjectGetsItsOwnOutcome) {
    test::TransferFixture f;
    const std::string user = f.userFolder().string();
    std::atomic<int> mixedUp{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                ApiResult r;
                std::int32_t expected = 0;
                if ((t + i) % 3 == 0) {
                    r = f.transport().PLSendData("K0011", user, "a.dat");
                    expected = 1;
                } else if ((t + i) % 3 == 1) {
                    r = f.transport().PLSendData("K001", "", "a.dat");
                    expected = 2;
                } else {
                    std::string name;
                    std::int32_t size = 0;
                    r = f.transport().PLRecvData("K001", user, name, 2, size);
                    expected = 4;
                }
                if (r.code != kApiBadArgument || r.detail != expected) ++mixedUp;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(mixedUp.load(), 0);
}
