// PLSearchReceivedCmd as a program: deliveries made by the center's gateway
// are fetched into the folder of SaveFilePath.ini through the real service.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/batch/ToolFixture.h"

using namespace plx;
using test::readFile;
using test::ToolTerminal;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

// "yyyy/MM/dd H:mm:ss <D-> " and the text.
std::vector<std::string> logTexts(const std::vector<std::string>& lines) {
    static const std::regex layout(R"(^\d{4}/\d{2}/\d{2} (1?\d|2[0-3]):[0-5]\d:[0-5]\d <D-> (.*)$)");
    std::vector<std::string> texts;
    for (const std::string& line : lines) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, layout)) << line;
        texts.push_back(m.size() > 2 ? m[2].str() : line);
    }
    return texts;
}

// A terminal whose gateway the center delivers to while an application is
// connected, and a destination folder named in SaveFilePath.ini.
class Deliveries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::waitForPort(port, 10));
        t.addKind("K001", "kind");
        t.client->Advise();
        fs::create_directory(dest);
        factory = std::make_unique<FactoryProxy>(*t.bus);
        retrieve = std::make_unique<RetrieveProxy>(*t.bus, factory->CreateRetrieve());
    }

    void deliver(const std::string& data, const std::string& name) {
        auto [code, summary] = test::runGateway(port, {"--mode", "deliver", "--data", data, "--data-file-name", name});
        ASSERT_EQ(code, 0) << summary;
    }
    // The register's received entries of a status (0: any), in its order.
    std::vector<FileRec> received(std::int32_t status) {
        std::vector<FileRec> out;
        std::int32_t n = retrieve->PLSearchReceived("", "", "", "", 0, status, 3);
        for (std::int32_t i = 0; i < n; ++i) out.push_back(fromBus(retrieve->PLSearchReceivedAt(i)));
        return out;
    }
    static std::string copyName(const FileRec& rec) {
        return rec.FileType + "_" + rec.SetDateTime + "_" + rec.ClTempFilename;
    }
    test::ProgramRun fetch() { return t.run("PLSearchReceivedCmd"); }

    int port = test::freeLoopbackPort();
    ToolTerminal t{{}, port};
    fs::path dest = t.work / "受信 先";
    std::unique_ptr<FactoryProxy> factory;
    std::unique_ptr<RetrieveProxy> retrieve;
};

} // namespace

TEST_F(Deliveries, TwoDeliveriesAreCopiedMarkedAndRemovedFromTheRegister) {
    deliver("first delivery", "a.dat");
    deliver(std::string(70000, 'x') + "second", "b.dat");
    std::vector<FileRec> recs = received(1);
    ASSERT_EQ(recs.size(), 2u);
    writeFile(t.work / "SaveFilePath.ini", dest.string() + "/\r\nignored\r\n");

    test::ProgramRun run = fetch();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dest / copyName(recs[0])), "first delivery");
    EXPECT_EQ(readFile(dest / copyName(recs[1])), std::string(70000, 'x') + "second");
    EXPECT_EQ(readFile(dest / (copyName(recs[0]) + ".ok")), "14\r\n");
    EXPECT_EQ(readFile(dest / (copyName(recs[1]) + ".ok")), "70006\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), 4);
    EXPECT_TRUE(received(0).empty());

    std::vector<std::string> expected{"=====Form_load begin=====", "plrecv() count :2"};
    for (const FileRec& rec : recs) {
        std::string copy = dest.string() + "/" + copyName(rec);
        expected.push_back("SaveFile:" + rec.ClTempFilename + "->" + copy);
        expected.push_back("OutputOK:" + copy + ".ok");
    }
    EXPECT_EQ(logTexts(t.logLines("PLSearchReceived_")), expected);

    // Nothing left: the count 0 and nothing else.
    run = fetch();
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::string> texts = logTexts(t.logLines("PLSearchReceived_"));
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 6, texts.end()),
              (std::vector<std::string>{"=====Form_load begin=====", "plrecv() count :0"}));
}

TEST_F(Deliveries, AFolderWithoutAFinalSlashGetsItsMarkersBesideTheCopies) {
    deliver("only", "a.dat");
    FileRec rec = received(1).at(0);
    writeFile(t.work / "SaveFilePath.ini", dest.string());
    EXPECT_EQ(fetch().exitCode, 0);
    EXPECT_EQ(readFile(dest / copyName(rec)), "only");
    EXPECT_EQ(readFile(dest / (copyName(rec) + ".ok")), "4\r\n");
    EXPECT_FALSE(fs::exists(t.work / ("受信 先" + copyName(rec) + ".ok")));
}

TEST_F(Deliveries, ACopyThatFailsOnTheSecondStopsThereWithTheTransportsError) {
    deliver("first", "a.dat");
    deliver("second", "b.dat");
    std::vector<FileRec> recs = received(1);
    ASSERT_EQ(recs.size(), 2u);
    writeFile(t.work / "SaveFilePath.ini", dest.string() + "/\n");
    fs::create_directory(dest / copyName(recs[1])); // the copy cannot be written

    test::ProgramRun run = fetch();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "PLSearchReceivedCmd: ErrCd:3 Detail:21 ファイル生成中にエラー\n");
    EXPECT_EQ(readFile(dest / (copyName(recs[0]) + ".ok")), "5\r\n");
    EXPECT_FALSE(fs::exists(dest / (copyName(recs[1]) + ".ok")));
    // The first is gone from the register, the second still waits to be picked up.
    std::vector<FileRec> left = received(0);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].ClTempFilename, recs[1].ClTempFilename);
    EXPECT_EQ(left[0].Status, 2); // delivered, not picked up
    EXPECT_EQ(logTexts(t.logLines("PLSearchReceived_")).size(), 4u);
}

TEST_F(Deliveries, AMarkerThatCannotBeWrittenIsReportedWithItsSystemError) {
    deliver("first", "a.dat");
    FileRec rec = received(1).at(0);
    writeFile(t.work / "SaveFilePath.ini", dest.string() + "/\n");
    fs::create_directory(dest / (copyName(rec) + ".ok"));
    test::ProgramRun run = fetch();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "PLSearchReceivedCmd: ErrCd:2 Detail:21 " + dest.string() + "/" + copyName(rec) +
                           ".ok: Is a directory\n");
    EXPECT_EQ(readFile(dest / copyName(rec)), "first");
    EXPECT_EQ(received(0).size(), 1u); // picked up, but not removed
}

TEST_F(Deliveries, WithoutSaveFilePathIniNothingIsFetched) {
    deliver("first", "a.dat");
    test::ProgramRun run = fetch();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "PLSearchReceivedCmd: ErrCd:2 Detail:2 SaveFilePath.ini: No such file or directory\n");
    EXPECT_EQ(received(1).size(), 1u);
}

TEST(SearchReceivedCmd, WithoutTheServiceItFailsWithAMessage) {
    test::ProgramRun run = test::NoService().run("PLSearchReceivedCmd");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.starts_with("PLSearchReceivedCmd: ErrCd:1 Detail:99 ")) << run.err;
}
