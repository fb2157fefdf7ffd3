#include <gtest/gtest.h>

#include "client/DataKinds.h"

using namespace plx;

namespace {

FileRec kind(std::string fileType, std::string dataName, std::int32_t serviceNo, std::string protocolFilename) {
    FileRec rec;
    rec.FileType = std::move(fileType);
    rec.DataName = std::move(dataName);
    rec.ServiceNo = serviceNo;
    rec.ProtocolFilename = std::move(protocolFilename);
    return rec;
}

DataKindTable sampleTable() {
    DataKindTable table;
    table.add(kind("FT01", "売上", 100, "SALES"), {"/data/sales.dat", "send"});
    table.add(kind("FT02", "売上(控)", 100, "SALES"), {"/data/sales2.dat", "send"});
    table.add(kind("FT03", "受注", 40000, "ORDERS"), {"/data/orders.dat", "Send"});
    table.add(kind("FT04", "返品", -5, "RETURNS"), {"/data/returns.dat", "recv"});
    table.add(kind("FT05", "在庫", 2147483647, "STOCK"), {"", ""});
    table.add(kind("FT06", "売上", 7, "DAILY"), {"/data/daily.dat", "recv"});
    return table;
}

} // namespace

TEST(DataKinds, LookUpsAnswerForTheFirstMatchInTableOrder) {
    DataKindTable table = sampleTable();
    struct Case {
        std::string_view serviceNo, protocolFilename, fileType, dataName, direction;
    } cases[] = {
        {"100", "SALES", "FT01", "売上", "送信"},
        {"40000", "ORDERS", "FT03", "受注", "受信"}, // "Send" is not "send"
        {"-5", "RETURNS", "FT04", "返品", "受信"},
        {"2147483647", "STOCK", "FT05", "在庫", "受信"},
        {"007", "DAILY", "FT06", "売上", "受信"},
        // No match: "" for all three.
        {"40000", "orders", "", "", ""},
        {"100", "ORDERS", "", "", ""},
        {"2147483648", "STOCK", "", "", ""},
        {"-2147483649", "STOCK", "", "", ""},
        {"99999999999999999999999999", "STOCK", "", "", ""},
        {"", "SALES", "", "", ""},
        {"abc", "SALES", "", "", ""},
        {"100x", "SALES", "", "", ""},
        {" 100", "SALES", "", "", ""},
        {"+100", "SALES", "", "", ""},
        {"-", "SALES", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.serviceNo) + "/" + std::string(c.protocolFilename));
        EXPECT_EQ(table.findFileType(c.serviceNo, c.protocolFilename), c.fileType);
        auto i = table.indexOfService(c.serviceNo, c.protocolFilename);
        EXPECT_EQ(i ? table[*i].file.DataName : "", c.dataName);
        EXPECT_EQ(i ? directionLabel(table[*i]) : "", c.direction);
    }
}

TEST(DataKinds, IndexesByFileTypeAndDataNameAreFirstExactMatches) {
    DataKindTable table = sampleTable();
    EXPECT_EQ(table.indexOfFileType("FT03"), 2u);
    EXPECT_EQ(table.indexOfFileType("ft03"), std::nullopt);
    EXPECT_EQ(table.indexOfDataName("売上"), 0u);
    EXPECT_EQ(table.indexOfDataName("売上 "), std::nullopt);
    EXPECT_EQ(table.indexOfService("100", "SALES"), 0u);
    EXPECT_EQ(DataKindTable().indexOfDataName(""), std::nullopt);
}

TEST(DataKinds, ServiceDefinitionsStartWithEmptyPairs) {
    DataKindTable table({kind("A", "a", 1, "P1"), kind("B", "b", 2, "P2")});
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].file.FileType, "B");
    EXPECT_EQ(table[0].app, AppIniPair{});
    EXPECT_EQ(table[1].app, AppIniPair{});
}

TEST(DataKinds, ClientFileNameSplitsAtItsLastSlash) {
    struct Case {
        std::string_view name, folder, fileName;
    } cases[] = {
        {"/data/out.dat", "/data", "out.dat"},
        {"/data/sub/out.dat", "/data/sub", "out.dat"},
        {"/データ/送信.dat", "/データ", "送信.dat"},
        {"/data/dir/", "/data/dir", ""},
        {"/out.dat", "", "out.dat"},
        {"out.dat", "", ""},
        {"C:\\data\\out.dat", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitClientFileName(c.name), (ClientFilePath{std::string(c.folder), std::string(c.fileName)}))
            << c.name;
}
