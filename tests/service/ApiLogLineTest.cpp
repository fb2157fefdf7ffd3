// Every PL method's API-log line, whole: stamp, code, detail, message,
// session identifier, method name and the method's own argument layout.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "service/classes/Retrieve.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using test::readFile;
using test::splitFields;
using test::TransferFixture;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

struct Call {
    const char* method;
    std::function<ApiResult()> run;
    // Everything after the stamp; a function, as some values come from the run.
    std::function<std::string()> expected;
};

// A file the center delivered, as the register holds it.
std::string delivered(TransferFixture& f, const std::string& content) {
    fs::path file = test::makeTempFile(f.tempFolder());
    writeFile(file, content);
    CenterRecord r;
    r.sectionName = makeSectionName("K001", file.string());
    r.svDataFilename = "center.dat";
    r.limitDays = 0;
    r.sendRecvFlag = kDirectionRecv;
    r.status = kStatusDone;
    r.clDataDirectory = f.tempFolder().string();
    writeCenterRecord(r);
    return file.filename().string();
}

std::string sessionIdOf(TransferFixture& f, const std::string& kind) {
    auto records = f.sessionLog(kind);
    return records.empty() ? "<no session record>" : splitFields(records.back()).at(9);
}

} // namespace

TEST(ApiLogLine, EveryMethodWritesItsOwnLayout) {
    TransferFixture f;
    Retrieve retrieve(f.sharedClient());
    Client& client = f.client();
    Transport& transport = f.transport();
    const std::string user = f.userFolder().string();
    const std::string url = "http://127.0.0.1:" + std::to_string(f.center().port()) + "/";
    writeFile(f.userFolder() / "send.dat", "to the center");
    writeFile(f.userFolder() / "stage.dat", "staged");
    fs::create_directories(f.center().store() / "outbox");
    writeFile(f.center().store() / "outbox" / "in.dat", "from the center");
    const std::string firstTemp = delivered(f, "first");
    delivered(f, "second");

    TerminalRec terminal;
    FileRec rec;
    std::int32_t count = 0;
    std::string tempName;
    std::string recvName;
    std::string pickName = "a.dat";

    const std::vector<Call> calls = {
        {"PLSetTermInfo", [&] { return client.PLSetTermInfo("1001", "9001", "center", url, "pw", "1.0", "", "", ""); },
         [&] { return "0,0,,,PLSetTermInfo,1001,9001,center," + url + ",pw,1.0,,,"; }},
        {"PLGetTermInfo", [&] { return client.PLGetTermInfo(terminal); }, [] { return "0,0,,,PLGetTermInfo,"; }},
        {"PLSetFileInfo", [&] { return client.PLSetFileInfo("K002", "別種", 8, "PF02", "AK0002", 100, 1, "run %f"); },
         [] { return "0,0,,,PLSetFileInfo,K002,別種,8,PF02,AK0002,100,1,run %f"; }},
        {"PLGetFileInfo", [&] { return client.PLGetFileInfo("K002", 8, "PF02", "AK0002", 100, 1, count); },
         [] { return "0,0,,,PLGetFileInfo,K002,8,PF02,AK0002,100,1"; }},
        {"PLGetFileInfoAt", [&] { return client.PLGetFileInfoAt(0, rec); }, [] { return "0,0,,,PLGetFileInfoAt,0"; }},
        {"PLDeleteFileInfo", [&] { return client.PLDeleteFileInfo("K002"); },
         [] { return "0,0,,,PLDeleteFileInfo,K002"; }},
        {"PLSendData", [&] { return transport.PLSendData("K001", user, "send.dat"); },
         [&] { return "0,0,," + sessionIdOf(f, "20") + ",PLSendData,K001," + user + ",send.dat"; }},
        {"PLSetData", [&] { return transport.PLSetData("K001", user, "stage.dat", 3, 0, tempName); },
         [&] { return "0,0,,,PLSetData,K001," + user + ",stage.dat,3,0"; }},
        {"PLRecvData", [&] { return transport.PLRecvData("K001", user, recvName, 0, count); },
         [&] { return "0,0,," + sessionIdOf(f, "10") + ",PLRecvData,K001," + user + ",,0"; }}, // the name as passed in
        {"PLSearchSent", [&] { return retrieve.PLSearchSent("K001", "", "", "", 0, count); },
         [] { return "0,0,,,PLSearchSent,K001,,,,0"; }},
        {"PLSearchSentAt", [&] { return retrieve.PLSearchSentAt(0, rec); }, [] { return "0,0,,,PLSearchSentAt,0"; }},
        {"PLSearchReceived", [&] { return retrieve.PLSearchReceived("K001", "", "", "", 0, 0, 3, count); },
         [] { return "0,0,,,PLSearchReceived,K001,,,,0,0,3"; }},
        {"PLSearchReceivedAt", [&] { return retrieve.PLSearchReceivedAt(0, rec); },
         [] { return "0,0,,,PLSearchReceivedAt,"; }}, // the one line without arguments
        {"PLGetDataA", [&] { return transport.PLGetDataA("K001", firstTemp, user, pickName, 0); },
         [&] { return "0,0,,,PLGetDataA,K001," + firstTemp + "," + user + ",a.dat,0"; }},
        {"PLGetData", [&] { return transport.PLGetData("K001", "", "", "", 0, 2, 3, user, "", count); },
         [&] { return "0,0,,,PLGetData,K001,,,,0,2,3," + user + ","; }},
        {"PLGetDataAt", [&] { return transport.PLGetDataAt(0, rec); }, [] { return "0,0,,,PLGetDataAt,0"; }},
        {"PLDeleteFile", [&] { return retrieve.PLDeleteFile("K001", 1, "", "", 1, "", count); },
         [] { return "0,0,,,PLDeleteFile,K001,1,,,1,"; }},
    };
    ASSERT_EQ(calls.size(), 17u);

    const std::regex stamp("[0-9]{14}");
    for (const Call& c : calls) {
        SCOPED_TRACE(c.method);
        ApiResult r = c.run();
        ASSERT_TRUE(r) << r.message;
        auto lines = f.apiLog(c.method);
        ASSERT_FALSE(lines.empty());
        const std::string& line = lines.back();
        auto comma = line.find(',');
        EXPECT_TRUE(std::regex_match(line.substr(0, comma), stamp)) << line;
        EXPECT_EQ(line.substr(comma + 1), c.expected());
    }
}
