#include "common/CenterRegister.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/FileControl.h"
#include "common/GetFileStore.h"
#include "common/IniLocks.h"
#include "platform/IniFile.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::readFile;
using test::ScopedHome;
using test::writeFile;

namespace {

// A program folder with a configured temporary folder.
struct RegisterHome {
    ScopedHome home;
    std::filesystem::path temp = home / "tmp";
    RegisterHome() {
        std::filesystem::create_directory(temp);
        writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + temp.string() + "\n");
    }
    std::filesystem::path dataFile(const std::string& content = "data") {
        auto path = test::makeTempFile(temp);
        writeFile(path, content);
        return path;
    }
};

CenterRecord record(const std::string& type, const std::filesystem::path& file, int status, int direction) {
    CenterRecord r;
    r.sectionName = makeSectionName(type, file.string());
    r.svDataFilename = "SV.DAT";
    r.limitDays = 3;
    r.status = status;
    r.sendRecvFlag = direction;
    r.clDataFilename = "out.dat";
    r.clDataDirectory = "/home/user/in";
    r.fileLoadNo = "L1";
    r.fileRecordKey = "K1";
    return r;
}

} // namespace

TEST(CenterRegister, WrittenRecordsReadBackWithDerivedFields) {
    RegisterHome h;
    auto file = h.dataFile("12345");
    writeCenterRecord(record("ABCD", file, kStatusWaiting, kDirectionSend));
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    const CenterRecord& r = records[0];
    EXPECT_EQ(r.sectionName, "ABCD," + file.string());
    EXPECT_EQ(r.svDataFilename, "SV.DAT");
    EXPECT_EQ(r.limitDays, 3);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.sendRecvFlag, 1);
    EXPECT_EQ(r.clDataFilename, "out.dat");
    EXPECT_EQ(r.clDataDirectory, "/home/user/in");
    EXPECT_EQ(r.fileLoadNo, "L1");
    EXPECT_EQ(r.fileRecordKey, "K1");
    EXPECT_EQ(r.fileType, "ABCD");
    EXPECT_EQ(r.tempFilePath, file.string());
    EXPECT_EQ(r.tempFileName, file.filename().string());
    EXPECT_EQ(r.fileSize, 5);
    EXPECT_NE(r.fileTime.ticks, 0u);
    EXPECT_EQ(r.expiryTime.ticks, r.fileTime.ticks + 3 * FileTime::kTicksPerDay);

    // The keys are stored in their fixed order.
    EXPECT_EQ(readFile(centerIniPath()),
              "[ABCD," + file.string() +
                  "]\nsvdatafilename=SV.DAT\nlimit=3\nstatus=1\nsendrecvflag=1\ncldatafilename=out.dat\n"
                  "cldatadirectory=/home/user/in\nfileloadno=L1\nfilerecordkey=K1\n");
}

TEST(CenterRegister, DerivedFieldEdges) {
    RegisterHome h;
    writeFile(centerIniPath(), "[LONGTYPE,/nowhere/@zvGONE.tmp]\nlimit=0\nstatus=2\n"
                               "[T1,/nowhere/x]\nlimit=-4\n"
                               "[T2,/nowhere/y]\n"
                               "[T3,/nowhere/z]\nlimit=2\n"
                               "[NOCOMMA]\nlimit=2147483647\nsvdatafilename=" +
                                   std::string(80, 'n') +
                                   "\n"
                                   "[売上伝票類分,/nowhere/k]\nsvdatafilename=" +
                                   std::string(60, 'n') + "受信データ.dat\n");
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].fileType, "LONGT");
    EXPECT_EQ(records[0].fileSize, 0);
    EXPECT_EQ(records[0].fileTime.ticks, 0u);
    for (int i : {0, 1, 2}) EXPECT_EQ(records[i].expiryTime.ticks, FileTime::kNoExpiry) << i;
    EXPECT_EQ(records[2].limitDays, -1);
    EXPECT_EQ(records[2].status, -1);
    // A missing data file counts from 1601.
    EXPECT_EQ(records[3].expiryTime.ticks, 2 * FileTime::kTicksPerDay);
    EXPECT_EQ(records[4].tempFilePath, "");
    EXPECT_EQ(records[4].expiryTime.ticks, FileTime::kNoExpiry); // capped, not wrapped
    EXPECT_EQ(records[4].svDataFilename.size(), 64u);
    // Limits count characters, never bytes.
    EXPECT_EQ(records[5].fileType, "売上伝票類");
    EXPECT_EQ(records[5].svDataFilename, std::string(60, 'n') + "受信デー");
}

TEST(CenterRegister, EmptyOrMissingFileGivesNoRecords) {
    RegisterHome h;
    EXPECT_TRUE(loadCenterRecords().empty());
    writeFile(centerIniPath(), "");
    EXPECT_TRUE(loadCenterRecords().empty());
    deleteCenterRecord("X,/y"); // nothing to delete, nothing created
    EXPECT_EQ(readFile(centerIniPath()), "");
}

TEST(CenterRegister, DeleteRemovesOnlyTheSection) {
    RegisterHome h;
    auto a = h.dataFile(), b = h.dataFile();
    writeCenterRecord(record("AAAA", a, 1, 1));
    writeCenterRecord(record("BBBB", b, 2, 2));
    deleteCenterRecord(makeSectionName("aaaa", a.string())); // names match in any case
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileType, "BBBB");
    EXPECT_TRUE(std::filesystem::exists(a));
}

TEST(CenterRegister, ValuesCannotInjectSections) {
    RegisterHome h;
    auto file = h.dataFile();
    auto r = record("ABCD", file, 2, 2);
    r.fileLoadNo = "x\r\n[K,/etc/passwd]\r\nstatus=3\r\nsendrecvflag=2";
    EXPECT_THROW(writeCenterRecord(r), IniFormatError);
    EXPECT_TRUE(loadCenterRecords().empty());
}

TEST(CenterRegister, StartRecoveryFollowsTheTable) {
    RegisterHome h;
    auto sendFile = h.dataFile(), recvFile = h.dataFile(), doneFile = h.dataFile(), otherFile = h.dataFile();
    auto outside = h.home / "@zvOUTSIDE.tmp";
    writeFile(outside, "user data");
    writeFile(centerIniPath(), "[NOST," + sendFile.string() +
                                   "]\nlimit=1\n"
                                   "[SEND," +
                                   sendFile.string() +
                                   "]\nstatus=3\nsendrecvflag=1\n"
                                   "[RECV," +
                                   recvFile.string() +
                                   "]\nstatus=3\nsendrecvflag=2\n"
                                   "[ODD," +
                                   otherFile.string() +
                                   "]\nstatus=3\nsendrecvflag=7\n"
                                   "[DONE," +
                                   doneFile.string() +
                                   "]\nstatus=2\nsendrecvflag=2\n"
                                   "[PICK," +
                                   doneFile.string() +
                                   "]\nstatus=4\nsendrecvflag=2\n"
                                   "[ESC," +
                                   outside.string() +
                                   "]\nstatus=3\nsendrecvflag=2\n"
                                   "[NOCOMMA]\nstatus=3\nsendrecvflag=2\n");
    recoverCenterRecords();

    std::vector<std::string> names;
    for (const auto& r : loadCenterRecords()) names.push_back(r.fileType + ":" + std::to_string(r.status));
    EXPECT_EQ(names, (std::vector<std::string>{"SEND:1", "DONE:2", "PICK:4", "NOCOM:3"}));
    EXPECT_FALSE(std::filesystem::exists(recvFile)); // half-delivered file removed
    EXPECT_TRUE(std::filesystem::exists(sendFile));
    EXPECT_TRUE(std::filesystem::exists(otherFile));
    EXPECT_TRUE(std::filesystem::exists(doneFile));
    // A path outside the temporary folder is never deleted, whatever the register says.
    EXPECT_TRUE(std::filesystem::exists(outside));
}

// An append that a crash cut off left the staged file half appended, and the
// repair put it back to waiting: the center then fetched a torn file. The
// size before the append, kept in the entry while it runs, cuts it back.
TEST(CenterRegister, StartRecoveryCutsAHalfAppendBack) {
    RegisterHome h;
    auto staged = h.dataFile("first part|second p");
    auto outside = h.home / "@zvOUTSIDE.tmp";
    writeFile(outside, "user data, longer than any base");
    writeFile(centerIniPath(), "[SEND," + staged.string() +
                                   "]\nstatus=3\nsendrecvflag=1\nappendbase=11\n"
                                   "[ESC," +
                                   outside.string() + "]\nstatus=3\nsendrecvflag=1\nappendbase=4\n");
    recoverCenterRecords();
    EXPECT_EQ(readFile(staged), "first part|");
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].status, kStatusWaiting);
    EXPECT_EQ(records[0].appendBase, -1);
    EXPECT_EQ(readFile(centerIniPath()).find("appendbase"), std::string::npos);
    // Only the service's own temporary files are ever cut.
    EXPECT_EQ(readFile(outside), "user data, longer than any base");

    // While an append runs the entry carries the base; a finished one does not.
    CenterRecord r = records[0];
    r.status = kStatusInProgress;
    r.appendBase = 11;
    writeCenterRecord(r);
    EXPECT_EQ(loadCenterRecords()[0].appendBase, 11);
    r.status = kStatusWaiting;
    r.appendBase = -1;
    writeCenterRecord(r);
    EXPECT_EQ(loadCenterRecords()[0].appendBase, -1);
}

TEST(CenterRegister, TwoProcessesUpdatingUnderTheLockLoseNothing) {
    RegisterHome h;
    auto file = h.dataFile();
    auto base = record("CNT", file, 1, 1);
    base.fileLoadNo = "0";
    writeCenterRecord(base);
    constexpr int kRounds = 60;

    auto bump = [&] {
        for (int i = 0; i < kRounds; ++i) {
            NamedLock lock(centerIniMutex());
            auto r = loadCenterRecords().at(0);
            r.fileLoadNo = std::to_string(std::stoi(r.fileLoadNo) + 1);
            writeCenterRecord(r);
        }
    };
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            bump();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    bump();
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(loadCenterRecords().at(0).fileLoadNo, std::to_string(2 * kRounds));
}

TEST(GetFileStore, CreatesTheFileAndSeesEverySection) {
    ScopedHome home;
    EXPECT_TRUE(loadGetFileEntries().empty());
    EXPECT_TRUE(std::filesystem::exists(getFileIniPath()));
    // Far more section names than a 1024-byte list could hold.
    for (int i = 0; i < 120; ++i)
        ASSERT_NO_THROW(writeGetFileEntry({"20240101120000-" + std::to_string(i), "LOAD" + std::to_string(i), "KEY"}));
    auto entries = loadGetFileEntries();
    ASSERT_EQ(entries.size(), 120u);
    EXPECT_EQ(entries[119].fileLoadNo, "LOAD119");
    EXPECT_EQ(entries[119].fileRecordKey, "KEY");
    EXPECT_THROW(writeGetFileEntry({"bad", "x\ny", "k"}), IniFormatError);
}

TEST(CenterRegister, TheKindOfASectionIsAllOfItBeforeTheFirstComma) {
    EXPECT_EQ(sectionKind("K001,/tmp/@zv1.tmp"), "K001");
    EXPECT_EQ(sectionKind("LONGKIND,/tmp/a,b"), "LONGKIND");
    EXPECT_EQ(sectionKind("nocomma"), "nocomma");
    EXPECT_EQ(sectionKind(",/tmp/x"), "");
}

TEST(CenterRegister, StatusChangesOnlyAnEntryThatIsThere) {
    RegisterHome h;
    // No register yet: nothing to change, and no empty file made.
    EXPECT_FALSE(updateCenterStatus("K001,/tmp/x", kStatusDone));
    EXPECT_FALSE(std::filesystem::exists(centerIniPath()));

    CenterRecord r = record("K001", h.dataFile(), kStatusWaiting, kDirectionSend);
    writeCenterRecord(r);
    std::string before = readFile(centerIniPath());
    // An entry deleted meanwhile does not come back as a stub.
    EXPECT_FALSE(updateCenterStatus("K001,/elsewhere", kStatusDone));
    EXPECT_FALSE(updateCenterStatus("", kStatusDone));
    EXPECT_EQ(readFile(centerIniPath()), before);

    EXPECT_TRUE(updateCenterStatus(r.sectionName, kStatusInProgress));
    auto records = loadCenterRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].status, kStatusInProgress);
    EXPECT_EQ(records[0].clDataFilename, "out.dat"); // the rest of the entry stays
}
