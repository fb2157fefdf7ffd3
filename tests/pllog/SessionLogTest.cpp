#include <climits>
#include <gtest/gtest.h>

#include "common/LogBridge.h"
#include "platform/Utf8.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;
using test::onlyRecord;
using Fields = std::vector<std::string>;

namespace {

TerminalRec terminal() {
    TerminalRec t;
    t.TerminalID = "T1";
    t.CenterID = "C1";
    t.CenterHost = "center.example";
    t.Password = "pw";
    t.ProtocolVersion = "1.0";
    return t;
}

FileRec fileRec(std::int32_t fileSize, std::int32_t recordLength, std::int32_t compressId) {
    FileRec f;
    f.ServiceNo = 7;
    f.ProtocolFilename = "PF";
    f.AccessKey = "AK";
    f.FileSize = fileSize;
    f.RecordLength = recordLength;
    f.CompressID = compressId;
    return f;
}

// Writes one session record into a fresh log and returns its fields.
Fields writeSession(const TerminalRec* term, const FileRec* file, std::int32_t resultCode = 0, std::int32_t detail = 0,
                    std::string_view sessionId = "SID") {
    LogFolders logs;
    EXPECT_EQ(callSessionAPI({.type = 0,
                              .level = 2,
                              .start = "20240101100000",
                              .end = "20240101100005",
                              .transferKind = 10,
                              .phase = 21,
                              .resultCode = resultCode,
                              .detail = detail,
                              .sessionId = sessionId,
                              .terminal = term,
                              .file = file,
                              .centerFileName = "center.dat",
                              .loadNo = "L1",
                              .recordKey = "K1"}),
              1);
    return onlyRecord(logs.sessionLines());
}

Fields slice(const Fields& f, std::size_t from, std::size_t to) {
    auto at = [&](std::size_t i) { return f.begin() + static_cast<std::ptrdiff_t>(i); };
    return f.size() >= to ? Fields(at(from), at(to)) : Fields{};
}

} // namespace

TEST(PllogSessionLog, NullRecordsKeepTwentyThreeFields) {
    EXPECT_EQ(writeSession(nullptr, nullptr), (Fields{"2",
                                                      "20240101100000",
                                                      "20240101100005",
                                                      "10",
                                                      "21",
                                                      "00",
                                                      "0",
                                                      "",
                                                      "",
                                                      "SID",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "",
                                                      "L1",
                                                      "K1"}));
}

TEST(PllogSessionLog, RecordFieldsInTheirPlaces) {
    TerminalRec t = terminal();
    FileRec file = fileRec(1000, 300, 1);
    EXPECT_EQ(slice(writeSession(&t, &file), 7, 23),
              (Fields{"center.example", "C1", "SID", "pw", "1.0", "7", "PF", "AK", "center.dat", "300", "4", "1000",
                      "1", "0", "L1", "K1"}));
}

TEST(PllogSessionLog, LengthCountSizeAndFlags) {
    struct Case {
        std::int32_t size, length, compress;
        Fields expected; // fields 16..20
    };
    const Case cases[] = {
        {1000, 300, 0, {"300", "4", "1000", "0", "0"}},
        {1000, -1, 1, {"1", "1000", "1000", "1", "1"}}, // variable length
        {0, 300, 0, {"", "", "", "0", "0"}},
        {1000, 300, 2, {"300", "4", "1000", "", "0"}},
        {1000, 0, 0, {"", "", "", "0", ""}},
        {INT_MAX, 2, 0, {"2", "1073741824", std::to_string(INT_MAX), "0", "0"}},
        {1000, INT_MIN, 0, {std::to_string(INT_MIN), "0", "1000", "0", ""}},
    };
    for (const auto& c : cases) {
        FileRec file = fileRec(c.size, c.length, c.compress);
        const FileRec before = file;
        EXPECT_EQ(slice(writeSession(nullptr, &file), 16, 21), c.expected) << c.size << "/" << c.length;
        EXPECT_EQ(file, before);
    }
}

TEST(PllogSessionLog, ResultCodeAndDetail) {
    // Two digits at least; the detail only with result code 1.
    EXPECT_EQ(slice(writeSession(nullptr, nullptr, 5, 33), 5, 7), (Fields{"05", "0"}));
    EXPECT_EQ(slice(writeSession(nullptr, nullptr, 1, 33), 5, 7), (Fields{"01", "33"}));
    EXPECT_EQ(slice(writeSession(nullptr, nullptr, 32, 33), 5, 7), (Fields{"32", "0"}));
}

TEST(PllogSessionLog, ValuesCannotForgeRecords) {
    const std::string evil = "x,\r\ny";
    TerminalRec t = terminal();
    t.CenterHost = t.CenterID = t.Password = t.ProtocolVersion = evil;
    FileRec file = fileRec(10, 5, 0);
    file.ProtocolFilename = file.AccessKey = evil;
    LogFolders logs;
    ASSERT_EQ(callSessionAPI({.type = 1,
                              .level = 2,
                              .start = evil,
                              .end = evil,
                              .transferKind = 20,
                              .phase = 31,
                              .resultCode = 1,
                              .detail = 3,
                              .sessionId = evil,
                              .terminal = &t,
                              .file = &file,
                              .centerFileName = evil,
                              .loadNo = evil,
                              .recordKey = evil}),
              1);
    auto f = onlyRecord(logs.sessionLines());
    ASSERT_EQ(f.size(), 23u);
    for (int i : {1, 2, 7, 8, 9, 10, 11, 13, 14, 15, 21, 22}) EXPECT_EQ(f[i], "x   y") << i;
    EXPECT_EQ(slice(f, 16, 21), (Fields{"5", "2", "10", "0", "0"}));
}

TEST(PllogSessionLog, RecordStringsAreCutOnACharacterBoundary) {
    TerminalRec t = terminal();
    for (int i = 0; i < 600; ++i) t.CenterHost += "あ";
    FileRec file = fileRec(1, 1, 0);
    file.ProtocolFilename.assign(2000, 'p');
    std::string longSession(3000, 's');
    auto f = writeSession(&t, &file, 0, 0, longSession);
    ASSERT_EQ(f.size(), 23u);
    EXPECT_EQ(f[7], utf8Truncate(t.CenterHost, 1023));
    EXPECT_TRUE(isValidUtf8(f[7]));
    EXPECT_EQ(f[13].size(), 1023u);
    // Texts that are not record strings have no limit.
    EXPECT_EQ(f[9], longSession);
}
