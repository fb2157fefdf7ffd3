#include "service/classes/Client.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/IniLocks.h"
#include "platform/IniFile.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

std::string repeat(std::string_view unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

struct Kind {
    std::string fileType = "AB01";
    std::string dataName = "売上データ";
    std::int32_t serviceNo = 1;
    std::string protocolFilename = "SALES";
    std::string accessKey = "KEY001";
    std::int32_t recordLength = 128;
    std::int32_t compressId = 0;
    std::string userData = "";
};

struct Search {
    std::string fileType = "";
    std::int32_t serviceNo = 0;
    std::string protocolFilename = "";
    std::string accessKey = "";
    std::int32_t recordLength = 0;
    std::int32_t compressId = 0;
};

using Types = std::vector<std::string>;

// Ten kinds, four of them complete.
const char* kMixedKinds =
    "[K001]\ndataname=固定長\nserviceno=1\nprotocolfilename=PA\naccesskey=A1\nrecordlength=128\ncompressid=0\n"
    "[K002]\ndataname=可変長\nserviceno=2\nprotocolfilename=PB\naccesskey=B1\nrecordlength=-1\ncompressid=1\nuserdata="
    "u\n"
    "[K003]\ndataname=可変長２\nserviceno=1\nprotocolfilename=PA\naccesskey=A2\nrecordlength=-1\ncompressid=0\n"
    "[K004]\ndataname=no service\nprotocolfilename=PD\naccesskey=D1\n"
    "[K005]\ndataname=no protocol name\nserviceno=1\naccesskey=E1\n"
    "[K006]\ndataname=no access key\nserviceno=1\nprotocolfilename=PF\n"
    "[K007]\nserviceno=1a\nprotocolfilename=PG\naccesskey=G1\n"
    "[K008]\nserviceno=1\nprotocolfilename=PH\naccesskey=H1\nrecordlength=abc\n"
    "[K009]\nserviceno=1\nprotocolfilename=PI\naccesskey=I1\ncompressid=x\n"
    "[K010]\ndataname=数値なし\nserviceno=3\nprotocolfilename=PJ\naccesskey=J1\n";

class ClientFileInfoTest : public ::testing::Test {
protected:
    test::ScopedHome home;
    // Failure records would go to the journal; these tests do not read the log.
    test::ScopedEnv noLog{"PLX_PLLOG_LIBRARY", (home / "absent-libPLlog.so").string()};
    Client client;

    fs::path fileIni() const { return home / "plfile.ini"; }

    static ApiResult set(Client& c, const Kind& k) {
        return c.PLSetFileInfo(k.fileType, k.dataName, k.serviceNo, k.protocolFilename, k.accessKey, k.recordLength,
                               k.compressId, k.userData);
    }
    ApiResult set(const Kind& k) { return set(client, k); }

    static ApiResult search(Client& c, const Search& s, std::int32_t& count) {
        return c.PLGetFileInfo(s.fileType, s.serviceNo, s.protocolFilename, s.accessKey, s.recordLength, s.compressId,
                               count);
    }

    // What a search finds, read back one by one.
    std::vector<FileRec> found(const Search& s) {
        std::int32_t count = -1;
        ApiResult result = search(client, s, count);
        EXPECT_FALSE(result.failed) << result.message;
        std::vector<FileRec> recs(static_cast<std::size_t>(std::max(count, 0)));
        for (std::int32_t i = 0; i < count; ++i) EXPECT_FALSE(client.PLGetFileInfoAt(i, recs[i]).failed);
        return recs;
    }
    Types listed(const Search& s) {
        Types types;
        for (const FileRec& rec : found(s)) types.push_back(rec.FileType);
        return types;
    }

    void expectFailure(const ApiResult& result, std::int32_t code, std::int32_t detail, const std::string& message) {
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(client.triple().code(), code);
        EXPECT_EQ(client.triple().detail(), detail);
        EXPECT_EQ(client.triple().message(), message);
    }
};

// --- writing ---

TEST_F(ClientFileInfoTest, SameProtocolNameAndKeyMovesTheKindToTheEnd) {
    ASSERT_FALSE(set(Kind{}).failed) << client.triple().message();
    ASSERT_FALSE(set(Kind{.fileType = "CD02", .protocolFilename = "STOCK"}).failed);
    updateProfile(fileIni(), [](IniDocument& doc) { doc.set("AB01", "extra", "1"); });

    ASSERT_FALSE(set(Kind{.dataName = "新名称", .recordLength = -1, .compressId = 1, .userData = "run %f"}).failed);
    EXPECT_EQ(test::readFile(fileIni()),
              "[CD02]\ndataname=売上データ\nserviceno=1\nprotocolfilename=STOCK\naccesskey=KEY001\n"
              "recordlength=128\ncompressid=0\nuserdata=\n"
              "[AB01]\ndataname=新名称\nserviceno=1\nprotocolfilename=SALES\naccesskey=KEY001\n"
              "recordlength=-1\ncompressid=1\nuserdata=run %f\n");
}

TEST_F(ClientFileInfoTest, OtherProtocolNameOrKeyOverwritesTheKindInPlace) {
    ASSERT_FALSE(set(Kind{}).failed);
    ASSERT_FALSE(set(Kind{.fileType = "CD02", .protocolFilename = "STOCK"}).failed);
    updateProfile(fileIni(), [](IniDocument& doc) { doc.set("AB01", "extra", "1"); });

    ASSERT_FALSE(set(Kind{.protocolFilename = "SALES2"}).failed);
    ASSERT_FALSE(set(Kind{.protocolFilename = "SALES2", .accessKey = "OTHER"}).failed);
    EXPECT_NE(test::readFile(fileIni()).find("extra=1"), std::string::npos);
    std::vector<FileRec> recs = found({});
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].FileType, "AB01");
    EXPECT_EQ(recs[0].AccessKey, "OTHER");
}

// Section names are case-blind, and only an exact FileType moves the kind:
// a case variant lands in the existing section, in place, under its first name.
TEST_F(ClientFileInfoTest, FileTypeDifferingOnlyInCaseIsWrittenInPlace) {
    ASSERT_FALSE(set(Kind{}).failed);
    ASSERT_FALSE(set(Kind{.fileType = "CD02", .protocolFilename = "STOCK"}).failed);
    ASSERT_FALSE(set(Kind{.fileType = "ab01", .dataName = "小文字"}).failed); // same name and key
    ASSERT_FALSE(set(Kind{.fileType = "Ab01", .dataName = "混在", .protocolFilename = "NEW"}).failed);
    EXPECT_EQ(test::readFile(fileIni()),
              "[AB01]\ndataname=混在\nserviceno=1\nprotocolfilename=NEW\naccesskey=KEY001\n"
              "recordlength=128\ncompressid=0\nuserdata=\n"
              "[CD02]\ndataname=売上データ\nserviceno=1\nprotocolfilename=STOCK\naccesskey=KEY001\n"
              "recordlength=128\ncompressid=0\nuserdata=\n");
    EXPECT_EQ(listed({}), (Types{"AB01", "CD02"})); // first-match look-ups still find it first
}

TEST_F(ClientFileInfoTest, SetChecksArgumentsInOrder) {
    struct Refused {
        Kind kind;
        std::int32_t detail;
        const char* message;
    };
    const std::vector<Refused> cases = {
        {{.fileType = "ABCDE"}, 1, "ファイル種別が4桁を超えました"},
        {{.fileType = ""}, 1, "ファイル種別が未入力です"},
        {{.dataName = repeat("名", 65)}, 2, "ファイル名称が64桁を超えました"},
        {{.dataName = ""}, 2, "ファイル名称が未入力です"},
        {{.serviceNo = -1}, 3, "不正な業務番号です"},
        {{.protocolFilename = repeat("P", 17)}, 4, "プロトコル上ファイル名が16桁を超えました"},
        {{.protocolFilename = ""}, 4, "プロトコル上ファイル名が未入力です"},
        {{.accessKey = "1234567"}, 5, "ファイルアクセスキーが6桁を超えました"},
        {{.accessKey = ""}, 5, "ファイルアクセスキーが未入力です"},
        {{.recordLength = -2}, 6, "不正なレコード長です"},
        {{.recordLength = 4097}, 6, "不正なレコード長です"},
        {{.compressId = 2}, 7, "不正な圧縮区分です"},
        {{.userData = repeat("u", 65)}, 8, "アプリケーション利用領域が64桁を超えました"},
        {{.fileType = "", .serviceNo = -1, .compressId = 5}, 1, "ファイル種別が未入力です"},
        {{.dataName = "", .recordLength = 5000}, 2, "ファイル名称が未入力です"},
        // What plfile.ini cannot carry is the argument's fault, not the store's.
        {{.fileType = "A]1"}, 1, "管理ファイルに書き込めない文字が含まれています"},
        {{.fileType = "A\n1"}, 1, "管理ファイルに書き込めない文字が含まれています"},
        {{.dataName = "名\r称"}, 2, "管理ファイルに書き込めない文字が含まれています"},
        {{.protocolFilename = "P\nF"}, 4, "管理ファイルに書き込めない文字が含まれています"},
        {{.accessKey = "K\r"}, 5, "管理ファイルに書き込めない文字が含まれています"},
        {{.userData = "run\n[AB01]"}, 8, "管理ファイルに書き込めない文字が含まれています"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        expectFailure(set(cases[i].kind), kApiBadArgument, cases[i].detail, cases[i].message);
        EXPECT_FALSE(fs::exists(fileIni()));
    }
    // "]" is only a section name's end: as a value it is stored and read back.
    EXPECT_FALSE(set(Kind{.fileType = "Z1", .dataName = "[x]", .userData = "a]b"}).failed);
    EXPECT_EQ(found({.fileType = "Z1"}).at(0).UserData, "a]b");
    // The edges themselves pass, record length 0 included.
    EXPECT_FALSE(set(Kind{.fileType = "種別名四", .serviceNo = 0, .recordLength = 0, .compressId = 1}).failed);
    EXPECT_FALSE(set(Kind{.fileType = "R", .protocolFilename = "P4", .recordLength = 4096}).failed);
    EXPECT_EQ(found({.recordLength = 4096}).at(0).FileType, "R");
}

TEST_F(ClientFileInfoTest, LongJapaneseTextsAreFoundAgain) {
    Kind kind{.dataName = repeat("売上", 32),
              .protocolFilename = repeat("送", 16),
              .accessKey = "鍵鍵鍵鍵鍵鍵",
              .userData = repeat("後処理", 21) + "x"};
    ASSERT_FALSE(set(kind).failed) << client.triple().message();
    ASSERT_FALSE(set(kind).failed) << client.triple().message(); // its own search reads them too
    std::vector<FileRec> recs = found({});
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].DataName, kind.dataName);
    EXPECT_EQ(recs[0].ProtocolFilename, kind.protocolFilename);
    EXPECT_EQ(recs[0].AccessKey, kind.accessKey);
    EXPECT_EQ(recs[0].UserData, kind.userData);
}

TEST_F(ClientFileInfoTest, SetRunsItsOwnSearchOnTheSharedResults) {
    test::writeFile(fileIni(), kMixedKinds);
    ASSERT_EQ(listed({}).size(), 4u);
    ASSERT_FALSE(set(Kind{.protocolFilename = "UNIQUE"}).failed);
    FileRec rec;
    expectFailure(client.PLGetFileInfoAt(0, rec), kApiSystemError, 0, "不正なインデックスです：index=0");

    // A search that fails stops the write.
    test::writeFile(fileIni(), "[LONG5]\nserviceno=1\nprotocolfilename=P\naccesskey=K\n");
    ApiResult result = set(Kind{});
    EXPECT_EQ(result.code, kApiSystemError);
    EXPECT_EQ(result.message, "ファイル管理ファイルへのアクセス中にエラー発生");
    EXPECT_FALSE(IniDocument::load(fileIni()).hasSection("AB01"));
}

// --- searching ---

TEST_F(ClientFileInfoTest, SearchFiltersTheCompleteKinds) {
    test::writeFile(fileIni(), kMixedKinds);
    EXPECT_EQ(listed({}), (Types{"K001", "K002", "K003", "K010"}));
    EXPECT_EQ(listed({.recordLength = -1}), (Types{"K002", "K003", "K010"})); // no length stored: not filtered
    EXPECT_EQ(listed({.recordLength = 128}), (Types{"K001", "K010"}));
    EXPECT_EQ(listed({.serviceNo = 1}), (Types{"K001", "K003"}));
    EXPECT_EQ(listed({.protocolFilename = "PA"}), (Types{"K001", "K003"}));
    EXPECT_EQ(listed({.protocolFilename = "pa"}), Types{});
    EXPECT_EQ(listed({.accessKey = "A2"}), (Types{"K003"}));
    EXPECT_EQ(listed({.compressId = 1}), (Types{"K002", "K010"}));
    EXPECT_EQ(listed({.serviceNo = 1, .protocolFilename = "PA", .recordLength = -1}), (Types{"K003"}));
    EXPECT_EQ(listed({.fileType = "k002"}).size(), 1u);
    EXPECT_EQ(listed({.fileType = "K004"}), Types{});

    FileRec rec;
    rec.SvDataFilename = "stale";
    ASSERT_EQ(listed({.fileType = "K002"}).size(), 1u);
    ASSERT_FALSE(client.PLGetFileInfoAt(0, rec).failed);
    EXPECT_EQ(rec, (FileRec{"K002", "可変長", 2, "PB", "B1", -1, 1, "u", "", "", "", 0, "", "", "", 0}));
}

TEST_F(ClientFileInfoTest, SearchChecksArgumentsInOrderAndNeedsNoFile) {
    std::int32_t count = -1;
    EXPECT_FALSE(search(client, {}, count).failed); // no plfile.ini: nothing found
    EXPECT_EQ(count, 0);
    expectFailure(search(client, {.fileType = "ABCDE"}, count), kApiBadArgument, 1, "ファイル種別が4桁を超えました");
    expectFailure(search(client, {.serviceNo = -1}, count), kApiBadArgument, 2, "不正な業務番号です");
    expectFailure(search(client, {.protocolFilename = repeat("名", 17)}, count), kApiBadArgument, 3,
                  "プロトコル上ファイル名が16桁を超えました");
    expectFailure(search(client, {.accessKey = "1234567"}, count), kApiBadArgument, 4,
                  "ファイルアクセスキーが6桁を超えました");
    expectFailure(search(client, {.recordLength = 5000, .compressId = 2}, count), kApiBadArgument, 6,
                  "不正な圧縮区分です"); // before the record length
    expectFailure(search(client, {.recordLength = -2}, count), kApiBadArgument, 5, "レコード長が不正です");
}

TEST_F(ClientFileInfoTest, SearchFailsOnAStoredValueOverItsLimit) {
    const std::string good = "serviceno=1\nprotocolfilename=P\naccesskey=K\n";
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"[LONG5]\n" + good, "ファイル管理ファイル中にファイル種別が4桁を超えて設定されているデータがあります"},
        {"[B3]\n" + good + "dataname=" + repeat("名", 65) + "\n",
         "ファイル管理ファイル中にファイル名称が64桁を超えて設定されているデータがあります"},
    };
    for (const auto& [section, message] : cases) {
        SCOPED_TRACE(message);
        test::writeFile(fileIni(), "[OK1]\n" + good + section);
        std::int32_t count = -1;
        expectFailure(search(client, {}, count), kApiSystemError, 0, message);
        EXPECT_EQ(count, 0);
        FileRec rec;
        EXPECT_TRUE(client.PLGetFileInfoAt(0, rec).failed);     // nothing kept from the failed search
        EXPECT_EQ(listed({.fileType = "OK1"}), (Types{"OK1"})); // the bad kind is not read
    }
    // Skipped for its missing service number before its long name is seen.
    test::writeFile(fileIni(), "[K1]\nprotocolfilename=" + repeat("p", 17) + "\naccesskey=K\n");
    EXPECT_EQ(listed({}), Types{});
}

TEST_F(ClientFileInfoTest, GetAtRefusesAnIndexOutsideTheResults) {
    test::writeFile(fileIni(), kMixedKinds);
    ASSERT_EQ(listed({.serviceNo = 99}), Types{});
    FileRec rec;
    rec.FileType = "stale";
    expectFailure(client.PLGetFileInfoAt(0, rec), kApiSystemError, 0, "不正なインデックスです：index=0");
    EXPECT_EQ(rec, FileRec{});
    ASSERT_EQ(listed({.serviceNo = 1}).size(), 2u);
    expectFailure(client.PLGetFileInfoAt(2, rec), kApiSystemError, 0, "不正なインデックスです：index=2");
    expectFailure(client.PLGetFileInfoAt(-1, rec), kApiSystemError, 0, "不正なインデックスです：index=-1");
}

TEST_F(ClientFileInfoTest, GetAtGivesUpWhileAnotherProcessHoldsTheLock) {
    test::writeFile(fileIni(), kMixedKinds);
    ASSERT_EQ(listed({}).size(), 4u);
    int locked[2], release[2];
    ASSERT_EQ(::pipe(locked), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(locked[0]);
        ::close(release[1]);
        fileIniMutex().lock();
        char byte = 'L';
        if (::write(locked[1], &byte, 1) != 1) ::_exit(2);
        if (::read(release[0], &byte, 1) < 0) ::_exit(3); // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(locked[1]);
    ::close(release[0]);
    char byte = 0;
    ASSERT_EQ(::read(locked[0], &byte, 1), 1);

    FileRec rec;
    expectFailure(client.PLGetFileInfoAt(0, rec), kApiSystemError, 0, "検索結果が上書きされました");

    ::close(release[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(locked[0]);
    EXPECT_FALSE(client.PLGetFileInfoAt(0, rec).failed);
    EXPECT_EQ(rec.FileType, "K001");
}

TEST_F(ClientFileInfoTest, RewritingAKindNeverHidesItNorLosesItsOwnResults) {
    ASSERT_FALSE(set(Kind{}).failed);
    ASSERT_FALSE(set(Kind{.fileType = "CD02", .protocolFilename = "STOCK"}).failed);
    std::atomic<bool> done{false};
    std::atomic<int> writerFailures{0}, lockedMisses{0}, fileMisses{0};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i) // moves AB01 to the end each time
            if (set(Kind{.recordLength = i}).failed) ++writerFailures;
        done = true;
    });
    std::thread sharedSearcher([&] { // empties the shared results the writer reads from
        while (!done) {
            std::int32_t count = 0;
            search(client, {.fileType = "ZZZZ"}, count);
        }
    });
    std::thread lockedReader([&] {
        Client own;
        while (!done) {
            std::int32_t count = 0;
            if (search(own, {.fileType = "AB01"}, count).failed || count != 1) ++lockedMisses;
        }
    });
    std::thread fileReader([&] { // a reader of the file alone, without the lock
        while (!done)
            if (!IniDocument::load(fileIni()).hasSection("AB01")) ++fileMisses;
    });
    for (std::thread* t : {&writer, &sharedSearcher, &lockedReader, &fileReader}) t->join();
    EXPECT_EQ(writerFailures, 0);
    EXPECT_EQ(lockedMisses, 0);
    EXPECT_EQ(fileMisses, 0);
    EXPECT_EQ(listed({}), (Types{"CD02", "AB01"}));
}

// --- deleting ---

TEST_F(ClientFileInfoTest, DeleteRemovesOnlyThatKind) {
    ASSERT_FALSE(set(Kind{}).failed);
    ASSERT_FALSE(set(Kind{.fileType = "CD02", .protocolFilename = "STOCK"}).failed);
    ASSERT_FALSE(client.PLDeleteFileInfo("ab01").failed);
    EXPECT_EQ(listed({}), (Types{"CD02"}));
    EXPECT_FALSE(IniDocument::load(fileIni()).hasSection("AB01"));
}

TEST_F(ClientFileInfoTest, DeleteRefusesWhatIsNotThere) {
    expectFailure(client.PLDeleteFileInfo(""), kApiBadArgument, 1, "ファイル種別が未入力です");
    expectFailure(client.PLDeleteFileInfo("ABCDE"), kApiBadArgument, 1, "ファイル種別が4桁を超えました");
    expectFailure(client.PLDeleteFileInfo("AB01"), kApiSystemError, ENOENT,
                  "ファイル管理ファイルへのアクセス中にエラー発生");

    test::writeFile(fileIni(), "[CD02]\nserviceno=1\n[EMPT]\n; only a comment\n");
    std::string before = test::readFile(fileIni());
    expectFailure(client.PLDeleteFileInfo("AB01"), kApiSystemError, 0, "指定したファイル種別が存在しません");
    expectFailure(client.PLDeleteFileInfo("EMPT"), kApiSystemError, 0, "指定したファイル種別が存在しません");
    EXPECT_EQ(test::readFile(fileIni()), before);

    // Any other failure (here: no lock folder) is code 1 with no text.
    test::ScopedEnv noLockFolder("PLX_RUNTIME_DIR", (fileIni() / "run").string());
    expectFailure(client.PLDeleteFileInfo("CD02"), kApiNotReady, 0, "");
    EXPECT_EQ(test::readFile(fileIni()), before);
}

} // namespace
