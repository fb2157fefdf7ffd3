#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "client/LogFileReader.h"
#include "platform/Utf8.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

// A session line as the logging library writes it: 23 fields.
std::string sessionLine(std::string_view id, std::string_view kind = "20", std::string_view start = "20051102093000") {
    std::vector<std::string> f(SessionLog::kFieldCount);
    f[SessionLog::kLevel] = "0";
    f[SessionLog::kStart] = start;
    f[SessionLog::kEnd] = start;
    f[SessionLog::kTransferKind] = kind;
    f[SessionLog::kPhase] = "0";
    f[SessionLog::kResultCode] = "00";
    f[SessionLog::kDetail] = "0";
    f[SessionLog::kCenterHost] = "center.example.jp";
    f[SessionLog::kCenterId] = "0001";
    f[SessionLog::kSessionId] = id;
    f[SessionLog::kServiceNo] = "100";
    f[SessionLog::kProtocolFilename] = "SALES";
    f[SessionLog::kLoadNo] = "L1";
    f[SessionLog::kRecordKey] = "K1";
    std::string line;
    for (std::size_t i = 0; i < f.size(); ++i) line += (i ? "," : "") + f[i];
    return line;
}

std::string apiLine(std::string_view stamp, std::string_view id, std::string_view api = "PLSendData",
                    std::string_view arguments = "FT01,/data,out.dat") {
    return std::string(stamp) + ",0,0,," + std::string(id) + "," + std::string(api) + "," + std::string(arguments);
}

std::string lines(std::initializer_list<std::string> all) {
    std::string text;
    for (const std::string& line : all) text += line + "\n";
    return text;
}

class LogFolders {
public:
    LogFolders() {
        fs::create_directory(root_ / "session");
        fs::create_directory(root_ / "api");
        folders.sessionLogLocation = (root_ / "session").string();
        folders.apiLogLocation = (root_ / "api").string();
    }
    void session(std::string_view day, std::string_view text) {
        test::writeFile(root_ / "session" / ("plsession" + std::string(day) + ".log"), text);
    }
    void api(std::string_view day, std::string_view text) {
        test::writeFile(root_ / "api" / ("plapi" + std::string(day) + ".log"), text);
    }
    fs::path sessionFolder() const { return root_ / "session"; }
    LogRecords load(LogFilter filter = {}) const { return loadLogRecords(folders, filter); }

    LogSettings folders;

private:
    test::TempDir root_;
};

std::vector<std::string> sessionIds(const LogRecords& records) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < records.sessionCount(); ++i)
        ids.emplace_back(records.session(i).field(SessionLog::kSessionId));
    return ids;
}

// The session id of the API line attached to each session ("-" for none)
// and its first argument, which the tests use to tell lines apart.
std::vector<std::string> attached(const LogRecords& records) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < records.sessionCount(); ++i)
        out.push_back(records.hasApi(i) ? std::string(records.api(i).field(ApiLog::kSessionId)) + "/" +
                                              std::string(records.api(i).field(ApiLog::kFirstArgument))
                                        : "-");
    return out;
}

using Ids = std::vector<std::string>;

} // namespace

TEST(LogFileReader, DayRangeChoosesFilesByTheDateInTheirName) {
    LogFolders logs;
    logs.session("20051101", lines({sessionLine("S1")}));
    logs.session("20051102", lines({sessionLine("S2")}));
    logs.session("20051103", lines({sessionLine("S3")}));
    // Names that are not daily session logs; the last one is (names of one
    // day go in byte order).
    test::writeFile(logs.sessionFolder() / "plsession2005110.log", lines({sessionLine("short")}));
    test::writeFile(logs.sessionFolder() / "plsession200511020.log", lines({sessionLine("long")}));
    test::writeFile(logs.sessionFolder() / "plsession20051102.log.1", lines({sessionLine("rotated")}));
    test::writeFile(logs.sessionFolder() / "plapi20051102.log", lines({sessionLine("api")}));
    test::writeFile(logs.sessionFolder() / "PLSESSION20051102.LOG", lines({sessionLine("upper")}));

    EXPECT_EQ(sessionIds(logs.load({"2005/11/02", "", "2005/11/02", ""})), (Ids{"upper", "S2"}));
    EXPECT_EQ(sessionIds(logs.load({"2005/11/2", "23:59", "2005/11/3", "0:00"})), (Ids{"upper", "S2", "S3"}));
    // An empty start date loads everything up to the end date, whatever
    // the start time says.
    EXPECT_EQ(sessionIds(logs.load({"", "bad", "2005/11/02", ""})), (Ids{"S1", "upper", "S2"}));
    EXPECT_EQ(sessionIds(logs.load({"2005/11/02", "", "", "bad"})), (Ids{"upper", "S2", "S3"}));
    EXPECT_EQ(logs.load().sessionCount(), 4u);
    EXPECT_EQ(logs.load({"2005/11/04", "", "2005/12/31", ""}).sessionCount(), 0u);
}

TEST(LogFileReader, FilesAreReadInDateOrderWhateverTheListingOrder) {
    LogFolders logs;
    std::vector<int> days(28);
    std::iota(days.begin(), days.end(), 1);
    std::shuffle(days.begin(), days.end(), std::mt19937(7));
    for (int day : days) {
        std::string date = "200502" + std::string(day < 10 ? "0" : "") + std::to_string(day);
        logs.session(date, lines({sessionLine(date + "a"), sessionLine(date + "b")}));
    }
    Ids ids = sessionIds(logs.load());
    ASSERT_EQ(ids.size(), 56u);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
}

TEST(LogFileReader, SessionLinesAreKeptAsWritten) {
    LogFolders logs;
    std::string surplus = sessionLine("S3") + ",extra,more";
    logs.session("20051102", "0,a,b\n"                            // short line
                             "\n"                                 // empty line
                             " 1 ,x, 20 \r\n"                     // blanks kept, CR dropped
                                 + surplus + "\n" + "last,line"); // no line end at the end
    LogRecords records = logs.load();
    ASSERT_EQ(records.sessionCount(), 5u);

    auto first = records.session(0).fields();
    EXPECT_EQ(first[0], "0");
    EXPECT_EQ(first[2], "b");
    EXPECT_TRUE(std::all_of(first.begin() + 3, first.end(), [](auto f) { return f.empty(); }));
    auto empty = records.session(1).fields();
    EXPECT_TRUE(std::all_of(empty.begin(), empty.end(), [](auto f) { return f.empty(); }));
    EXPECT_EQ(records.session(2).field(0), " 1 ");
    EXPECT_EQ(records.session(2).field(2), " 20 ");
    EXPECT_EQ(records.session(3).field(SessionLog::kRecordKey), "K1,extra,more");
    EXPECT_EQ(records.session(3).line(), surplus);
    EXPECT_EQ(records.session(4).field(1), "line");
    for (std::size_t i = 0; i < records.sessionCount(); ++i) EXPECT_FALSE(records.hasApi(i));
}

TEST(LogFileReader, OverlongLinesAreCutAndTheirRestSkipped) {
    LogFolders logs;
    std::string exact(kMaxLogLineBytes, 'x');
    std::string kana;
    while (kana.size() <= kMaxLogLineBytes + 10) kana += "あ";
    std::string huge = "0,20051102093000," + std::string(3 * kMaxLogLineBytes, 'y');
    logs.session("20051102", exact + "\r\n" + kana + "\n" + huge + "\n" + sessionLine("after") + "\n" + huge);
    LogRecords records = logs.load();
    ASSERT_EQ(records.sessionCount(), 5u);
    EXPECT_EQ(records.session(0).line(), exact);
    std::string_view cutKana = records.session(1).line();
    EXPECT_EQ(cutKana.size(), kMaxLogLineBytes - kMaxLogLineBytes % 3);
    EXPECT_TRUE(isValidUtf8(cutKana));
    EXPECT_EQ(records.session(2).line(), std::string_view(huge).substr(0, kMaxLogLineBytes));
    EXPECT_EQ(records.session(3).field(SessionLog::kSessionId), "after");
    EXPECT_EQ(records.session(4).line().size(), kMaxLogLineBytes);
}

TEST(LogFileReader, ApiLinesAttachByStampWindow) {
    LogFolders logs;
    logs.session("20051102", lines({sessionLine("A"), sessionLine("B"), sessionLine("C"), sessionLine("D")}));
    logs.api("20051102", lines({apiLine("20051102103059", "A"), apiLine("20051102103100", "B"),
                                apiLine("20051102103015", "C"), apiLine("20051102095959", "D")}));

    // An end time without seconds takes in its whole minute.
    EXPECT_EQ(attached(logs.load({"2005/11/02", "10:00", "2005/11/02", "10:30"})), (Ids{"A/FT01", "-", "C/FT01", "-"}));
    EXPECT_EQ(attached(logs.load({"2005/11/02", "10:00", "2005/11/02", "10:30:15"})), (Ids{"-", "-", "C/FT01", "-"}));
    // Sessions are not narrowed by the time of day: outside the window they
    // stay, without their API line.
    EXPECT_EQ(attached(logs.load({"2005/11/02", "9:59:59", "2005/11/02", ""})),
              (Ids{"A/FT01", "B/FT01", "C/FT01", "D/FT01"}));
    EXPECT_EQ(attached(logs.load({"", "", "", ""})), (Ids{"A/FT01", "B/FT01", "C/FT01", "D/FT01"}));
}

TEST(LogFileReader, FirstSessionWithAnIdGetsTheLastApiLineRead) {
    LogFolders logs;
    logs.session("20051101", lines({sessionLine("X"), sessionLine("Y")}));
    logs.session("20051102", lines({sessionLine("X"), sessionLine("Z")}));
    logs.api("20051101", lines({apiLine("20051101100000", "X", "PLSendData", "first"),
                                apiLine("20051101100001", "X", "PLRecvData", "second")}));
    logs.api("20051102", lines({apiLine("20051102100000", "X", "PLSendData", "third"),
                                apiLine("20051102100000", "x", "PLSendData", "lower"),
                                apiLine("20051102100000", "W", "PLSendData", "nobody")}));
    EXPECT_EQ(attached(logs.load()), (Ids{"X/third", "-", "-", "-"}));
    // Without the second day's files the first day's last line stays.
    EXPECT_EQ(attached(logs.load({"", "", "2005/11/01", ""})), (Ids{"X/second", "-"}));
}

// Days are read side by side; their records still come in date order, and
// the last day's line for a session is the one kept.
TEST(LogFileReader, DaysReadSideBySideKeepTheOrderOfOneAfterTheOther) {
    LogFolders logs;
    Ids expected;
    for (int day = 1; day <= 60; ++day) {
        char date[9];
        std::snprintf(date, sizeof date, "2006%02d%02d", (day - 1) / 28 + 1, (day - 1) % 28 + 1);
        logs.session(date, lines({sessionLine(std::string("S") + date), sessionLine("X")}));
        logs.api(date, lines({apiLine(std::string(date) + "100000", "X", "PLSendData", date)}));
        expected.push_back(std::string("S") + date);
        expected.push_back("X");
    }
    LogRecords records = logs.load();
    EXPECT_EQ(sessionIds(records), expected);
    EXPECT_EQ(attached(records)[1], "X/20060304"); // the first X, with the 60th day's line
}

TEST(LogFileReader, OnlyTransferCallsWithASessionIdAreAttached) {
    LogFolders logs;
    logs.session("20051102", lines({sessionLine("A"), sessionLine(""), sessionLine("C")}));
    logs.api("20051102",
             lines({apiLine("20051102100000", "A", "PLSetData"), apiLine("20051102100000", "A", "PLSendDataX"),
                    apiLine("20051102100000", "A", "plsenddata"), apiLine("20051102100000", "", "PLSendData"),
                    apiLine("20051102100000", "C", "PLRecvData", "FT02,/in,a.dat,1,extra,6,7,8,9,10,11")}));
    LogRecords records = logs.load();
    EXPECT_EQ(attached(records), (Ids{"-", "-", "C/FT02"}));
    ApiLine api = records.api(2);
    EXPECT_EQ(api.field(ApiLog::kStamp), "20051102100000");
    EXPECT_EQ(api.field(ApiLog::kApiName), "PLRecvData");
    EXPECT_EQ(api.field(ApiLog::kFirstArgument + 3), "1");
    EXPECT_EQ(api.field(ApiLog::kFieldCount - 1), "9,10,11");
    // No API record: every field empty.
    EXPECT_EQ(records.api(0).field(ApiLog::kStamp), "");
}

TEST(LogFileReader, KindNarrowsSessionsByTransferKind) {
    LogFolders logs;
    logs.session("20051102", lines({sessionLine("k10", "10"), sessionLine("k20", "20"), sessionLine("k30", "30"),
                                    sessionLine("k40", "40"), sessionLine("k50", "50"), sessionLine("k0", "0"), ""}));
    logs.api("20051102", lines({apiLine("20051102100000", "k20"), apiLine("20051102100000", "k30", "PLRecvData")}));

    LogRecords send = logs.load({.kind = LogKind::Send});
    EXPECT_EQ(sessionIds(send), (Ids{"k20", "k40"}));
    EXPECT_EQ(attached(send), (Ids{"k20/FT01", "-"}));
    LogRecords receive = logs.load({.kind = LogKind::Receive});
    EXPECT_EQ(sessionIds(receive), (Ids{"k10", "k30"}));
    EXPECT_EQ(attached(receive), (Ids{"-", "k30/FT01"}));
    EXPECT_EQ(sessionIds(logs.load({.kind = LogKind::All})), (Ids{"k10", "k20", "k30", "k40", "k50", "k0", ""}));
}

TEST(LogFileReader, UnusableFoldersAndFilesGiveNoRecords) {
    LogFolders logs;
    logs.session("20051101", lines({sessionLine("A")}));
    logs.api("20051101", lines({apiLine("20051101100000", "A")}));
    fs::create_directory(logs.sessionFolder() / "plsession20051102.log");
    logs.session("20051103", lines({sessionLine("C")}));

    EXPECT_EQ(sessionIds(logs.load()), (Ids{"A", "C"}));

    LogSettings noApi = logs.folders;
    noApi.apiLogLocation = "";
    EXPECT_EQ(attached(loadLogRecords(noApi, {})), (Ids{"-", "-"}));
    LogSettings noSessions = logs.folders;
    noSessions.sessionLogLocation = "";
    EXPECT_EQ(loadLogRecords(noSessions, {}).sessionCount(), 0u);
    noSessions.sessionLogLocation = logs.folders.sessionLogLocation + "/missing";
    EXPECT_EQ(loadLogRecords(noSessions, {}).sessionCount(), 0u);
    // A trailing "/" on the folder text changes nothing.
    LogSettings slashed = logs.folders;
    slashed.sessionLogLocation += "/";
    EXPECT_EQ(sessionIds(loadLogRecords(slashed, {})), (Ids{"A", "C"}));

    if (::geteuid() != 0) {
        fs::permissions(logs.sessionFolder() / "plsession20051103.log", fs::perms::none);
        EXPECT_EQ(sessionIds(logs.load()), (Ids{"A"}));
    }
}

TEST(LogFileReader, AFifoNamedLikeALogIsSkippedWithoutWaiting) {
    LogFolders logs;
    logs.session("20051101", lines({sessionLine("A")}));
    ASSERT_EQ(::mkfifo((logs.sessionFolder() / "plsession20051102.log").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((logs.folders.apiLogLocation + "/plapi20051101.log").c_str(), 0600), 0);
    EXPECT_EQ(sessionIds(logs.load()), (Ids{"A"}));
}

TEST(LogFileReader, InvalidFilterTextsAreRefused) {
    LogFolders logs;
    for (LogFilter filter : {LogFilter{"2005/02/29", "", "", ""}, LogFilter{"2005/11/02", "25:00", "", ""},
                             LogFilter{"", "", "2005-11-02", ""}, LogFilter{"", "", "2005/11/02", "10:3"}})
        EXPECT_THROW(logs.load(filter), std::invalid_argument) << filter.dateFrom << filter.timeFrom << filter.dateTo;
}

TEST(LogFileReader, ManySessionsStayIntactAndMovable) {
    LogFolders logs;
    constexpr int kSessions = 20000; // several storage blocks and read buffers
    std::string sessions, apis;
    for (int i = 0; i < kSessions; ++i) {
        std::string id = "ID" + std::to_string(i);
        sessions += sessionLine(id, i % 2 ? "20" : "10") + "\n";
        if (i % 3 == 0) apis += apiLine("20051102100000", id, i % 2 ? "PLSendData" : "PLRecvData", id) + "\n";
    }
    logs.session("20051102", sessions);
    logs.api("20051102", apis);

    LogRecords loaded = logs.load();
    LogRecords records = std::move(loaded);
    ASSERT_EQ(records.sessionCount(), std::size_t(kSessions));
    for (int i = 0; i < kSessions; ++i) {
        std::string id = "ID" + std::to_string(i);
        ASSERT_EQ(records.session(i).field(SessionLog::kSessionId), id);
        ASSERT_EQ(records.session(i).field(SessionLog::kRecordKey), "K1");
        ASSERT_EQ(records.hasApi(i), i % 3 == 0) << i;
        if (i % 3 == 0) {
            ASSERT_EQ(records.api(i).field(ApiLog::kFirstArgument), id);
        }
    }
}
