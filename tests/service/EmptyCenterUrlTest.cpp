// Without a center URL there is no center: nothing of the terminal's (its
// password, its certificate request) may go to a default address.
#include <gtest/gtest.h>

#include <mutex>

#include "centerlink/CertificateRegistration.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using test::ScopedEnv;
using test::TransferFixture;

TEST(EmptyCenterUrl, NothingIsSentToADefaultAddress) {
    // Stands where an address without a port leads (port 80).
    std::mutex mutex;
    std::string received;
    test::LoopbackPeer port80(
        [&](int fd) {
            std::string message = test::readHttpMessage(fd);
            std::lock_guard lock(mutex);
            received += message;
        },
        8);
    ScopedEnv standIn("PLX_TEST_HTTP_PORT", std::to_string(port80.port()));

    TransferFixture f;
    ASSERT_TRUE(f.client().PLSetTermInfo("1001", "9001", "center", "", "pw", "1.0", "", "", ""));
    test::writeFile(f.userFolder() / "send.dat", "secret data");

    ApiResult sent = f.transport().PLSendData("K001", f.userFolder().string(), "send.dat");
    EXPECT_TRUE(sent.failed);
    EXPECT_EQ(sent.code, 5);
    EXPECT_EQ(sent.detail, 1);
    EXPECT_EQ(sent.message, "接続に失敗");

    std::string name;
    std::int32_t size = 0;
    ApiResult got = f.transport().PLRecvData("K001", f.userFolder().string(), name, 0, size);
    EXPECT_TRUE(got.failed);
    EXPECT_EQ(got.code, 5);
    EXPECT_EQ(got.detail, 1);
    EXPECT_EQ(got.message, "接続に失敗");

    try {
        sslRegist([&](TerminalRec& t) { return !f.client().PLGetTermInfo(t).failed; });
        ADD_FAILURE() << "registered without a center";
    } catch (const RegistrationFailure& failure) {
        EXPECT_EQ(failure.detail(), 1);
    }

    EXPECT_EQ(port80.accepted(), 0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, "");
}
