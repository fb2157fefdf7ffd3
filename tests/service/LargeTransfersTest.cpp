// The real service process moving files of a few MiB to and from the
// center, plain and gzip: the bytes arrive unchanged, nothing is left in the
// service's temporary folders, and the memory a burst of transfers took
// goes back.
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "tests/common/TestData.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using namespace plx::test;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSize = (4 << 20) + 12345;

void setUpKinds(sdbus::IConnection& bus, int centerPort) {
    ClientProxy client(bus);
    client.PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:" + std::to_string(centerPort) + "/", "pw", "1.0", "",
                         "", "");
    client.PLSetFileInfo("K001", "plain", 7, "PF01", "AK0001", -1, 0, "");
    client.PLSetFileInfo("K002", "gzip", 7, "PF02", "AK0002", -1, 1, "");
}

class LargeTransfers : public ::testing::Test {
protected:
    void SetUp() override {
        setUpKinds(*bus_, center_.port());
        FactoryProxy factory(*bus_);
        transport_ = std::make_unique<TransportProxy>(*bus_, factory.CreateTransport());
    }

    // Nothing of the transfers stays behind in the service's folders.
    std::vector<std::string> leftOver() const {
        std::vector<std::string> names = files(service_.home() / "temp");
        for (const std::string& name : files(service_.home() / "tmp")) names.push_back(name);
        return names;
    }
    std::vector<std::string> files(const fs::path& folder) const {
        std::vector<std::string> names;
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir user_; // made before the service's own temporary folder is set
    CenterSimulator center_{{"--kind", "PF01,AK0001,7,0", "--kind", "PF02,AK0002,7,1"}};
    ServiceOnBus service_;
    std::unique_ptr<sdbus::IConnection> bus_ = service_.connect();
    std::unique_ptr<TransportProxy> transport_;
};

TEST_F(LargeTransfers, SentPlainAndGzipTheCenterStoresTheSameBytes) {
    const std::string data = mixedData(kSize, 4);
    writeFile(user_ / "out.dat", data);
    transport_->PLSendData("K001", user_.path().string(), "out.dat");
    transport_->PLSendData("K002", user_.path().string(), "out.dat");
    const fs::path received = center_.store() / "received";
    const std::vector<std::string> names = files(received);
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) EXPECT_TRUE(readFile(received / name) == data) << name;
    const std::string log = center_.log();
    EXPECT_NE(log.find("\"compress_flag\": \"0\""), std::string::npos);
    EXPECT_NE(log.find("\"compress_flag\": \"1\""), std::string::npos);
    EXPECT_EQ(leftOver(), std::vector<std::string>{});
}

TEST_F(LargeTransfers, AGzipDeliveryIsStoredUnchanged) {
    const std::string data = mixedData(kSize, 5);
    fs::create_directories(center_.store() / "outbox" / "PF02");
    writeFile(center_.store() / "outbox" / "PF02" / "in.dat", data);
    auto [name, size] = transport_->PLRecvData("K002", user_.path().string(), "", 0);
    EXPECT_EQ(name, "in.dat");
    EXPECT_EQ(size, static_cast<std::int32_t>(kSize));
    EXPECT_EQ(files(user_.path()), std::vector<std::string>{"in.dat"});
    EXPECT_TRUE(readFile(user_ / "in.dat") == data);
    EXPECT_NE(center_.log().find("\"compress_flag\": \"1\""), std::string::npos);
    EXPECT_EQ(leftOver(), std::vector<std::string>{});
}

} // namespace
