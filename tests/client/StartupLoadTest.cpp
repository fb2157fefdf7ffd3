// The start-up loads of the desktop client and the batch program, against
// the real service on a private bus.
#include <gtest/gtest.h>

#include "client/StartupLoad.h"
#include "tests/service/BusFixture.h"

using namespace plx;
using test::ScopedEnv;
using test::ServiceOnBus;
using test::writeFile;

namespace {

class SilentNotifier final : public UserNotifier {
public:
    void show(const std::string&, const std::string&, Icon) override {}
};

const char* kTwoKinds = "[K001]\nDataName=送る\nServiceNo=7\nProtocolFilename=PF01\nAccessKey=AK0001\n"
                        "RecordLength=-1\nCompressID=0\nUserData=\n"
                        "[K002]\nDataName=受ける\nServiceNo=40000\nProtocolFilename=PF02\nAccessKey=AK0002\n"
                        "RecordLength=128\nCompressID=1\nUserData=after.sh\n";

} // namespace

TEST(StartupLoad, LoadsSettingsTerminalAndKindsWithTheirPairs) {
    ServiceOnBus service("[apilog]\ndays=30\n", "[terminfo]\nterminalid=1001\ncenterid=9001\npassword=pw\n");
    writeFile(service.home() / "plfile.ini", kTwoKinds);
    writeFile(service.home() / "plxapp.ini", "[K002]\nclfilename=/data/in.dat\nsendrecv=recv\n");
    SilentNotifier boxes;
    AppState state;
    EXPECT_EQ(loadStartupData(state, boxes), std::nullopt);
    ASSERT_NE(state.wrapper, nullptr);
    EXPECT_EQ(state.logSettings.apiLogLocation, (service.home() / "apilog").string());
    EXPECT_EQ(state.terminal.TerminalID, "1001");
    ASSERT_EQ(state.kinds.size(), 2u);
    EXPECT_EQ(state.kinds[0].file.FileType, "K001");
    EXPECT_EQ(state.kinds[0].app, AppIniPair{});
    EXPECT_EQ(state.kinds[1].file.ServiceNo, 40000);
    EXPECT_EQ(state.kinds[1].file.UserData, "after.sh");
    EXPECT_EQ(state.kinds[1].app, (AppIniPair{"/data/in.dat", "recv"}));
}

TEST(StartupLoad, AFirstRunWithNothingStoredIsNoFailure) {
    ServiceOnBus service; // neither plterm.ini nor plfile.ini
    SilentNotifier boxes;
    AppState state;
    EXPECT_EQ(loadStartupData(state, boxes), std::nullopt);
    EXPECT_EQ(state.terminal, TerminalRec{});
    EXPECT_TRUE(state.kinds.empty());
}

TEST(StartupLoad, ABadStoredTerminalIsLoadedAsReadForRepair) {
    ServiceOnBus service("", "[terminfo]\nterminalid=12345678901234567\ncenterid=9001\npassword=pw\n");
    writeFile(service.home() / "plfile.ini", kTwoKinds);
    SilentNotifier boxes;
    AppState state;
    auto failure = loadStartupData(state, boxes);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->firstLine, "端末情報の読出しが異常終了しました。");
    EXPECT_EQ(failure->triple.code, 2);
    EXPECT_EQ(startupFailureText(*failure),
              "端末情報の読出しが異常終了しました。\r\nコード：　2\r\n内容：　"
              "端末管理ファイルの端末IDが16桁を超えて設定されています\r\n詳細コード：　0");
    EXPECT_EQ(termToRepair(*failure), std::optional<std::size_t>(0));
    EXPECT_EQ(state.terminal.TerminalID, "12345678901234567");
    EXPECT_EQ(state.terminal.Password, "pw");
    EXPECT_EQ(state.kinds.size(), 2u);
    // The wrapper stays: the settings dialog can still repair the value.
    ASSERT_NE(state.wrapper, nullptr);
    TerminalRec fixed;
    fixed.TerminalID = "1001";
    fixed.CenterID = "9001";
    fixed.Password = "pw";
    state.wrapper->SetTermInfo(fixed);
    EXPECT_EQ(state.wrapper->LastErrorCd(), 0) << state.wrapper->LastErrorMsg();
}

TEST(StartupLoad, WithoutTheServiceTheStartFailsAndNothingPassesAsSuccess) {
    test::PrivateBus empty;
    ScopedEnv bus("PLX_BUS", empty.address());
    test::ScopedHome home;
    SilentNotifier boxes;
    AppState state;
    auto failure = loadStartupData(state, boxes);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->firstLine, "Pelorinの初期化が異常終了しました。");
    EXPECT_EQ(failure->triple.code, 1);
    EXPECT_EQ(failure->triple.detail, 99);
    EXPECT_TRUE(state.kinds.empty());
    ASSERT_NE(state.wrapper, nullptr);
    state.wrapper->SendData("K001", "/tmp", "x.dat", "");
    EXPECT_EQ(state.wrapper->LastErrorCd(), 1);

    AppState batch;
    auto batchFailure = loadBatchGlobals(batch, boxes);
    ASSERT_TRUE(batchFailure.has_value());
    EXPECT_EQ(batchFailure->code, 1);
    EXPECT_EQ(batchFailure->detail, 99);
}

TEST(StartupLoad, TheBatchLoadReadsKindsAndPairsOnly) {
    ServiceOnBus service("", "[terminfo]\nterminalid=12345678901234567\n"); // never read by the batch load
    writeFile(service.home() / "plfile.ini", kTwoKinds);
    writeFile(service.home() / "plxapp.ini", "[K001]\nclfilename=/data/out.dat\nsendrecv=send\n");
    SilentNotifier boxes;
    AppState state;
    EXPECT_EQ(loadBatchGlobals(state, boxes), std::nullopt);
    ASSERT_EQ(state.kinds.size(), 2u);
    EXPECT_EQ(state.kinds[0].app, (AppIniPair{"/data/out.dat", "send"}));
    EXPECT_EQ(state.kinds[1].file.DataName, "受ける");
}
