#include "service/classes/CallerFiles.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FdIo.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kAlice = 60401, kBob = 60402;
constexpr gid_t kShared = 60410;

Caller callerOf(uid_t uid, std::vector<gid_t> groups = {}) {
    Credentials c;
    c.uid = uid;
    c.gid = uid;
    c.groups = std::move(groups);
    return Caller::withCredentials(c);
}

// A tree whose modes and owners the tests set as they need: files are the
// service's (root's here) unless a test gives them away.
class CallerFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "files of other owners need root";
        ::chmod(dir_.path().c_str(), 0755);
    }
    fs::path make(const std::string& name, const std::string& content, mode_t mode, uid_t uid = 0, gid_t gid = 0) {
        fs::path p = dir_ / name;
        test::writeFile(p, content);
        EXPECT_EQ(::chown(p.c_str(), uid, gid), 0);
        EXPECT_EQ(::chmod(p.c_str(), mode), 0);
        return p;
    }
    fs::path folder(const std::string& name, mode_t mode, uid_t uid = 0, gid_t gid = 0) {
        fs::path p = dir_ / name;
        fs::create_directories(p);
        EXPECT_EQ(::chown(p.c_str(), uid, gid), 0);
        EXPECT_EQ(::chmod(p.c_str(), mode), 0);
        return p;
    }
    static CallerFileError::Kind failure(const std::function<void()>& f) {
        try {
            f();
        } catch (const CallerFileError& e) {
            return e.kind();
        }
        ADD_FAILURE() << "no failure";
        return CallerFileError::kSystem;
    }
    static std::string read(UniqueFd fd) {
        std::string out(64, '\0');
        ssize_t n = readFully(fd.get(), out.data(), out.size());
        out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return out;
    }

    test::TempDir dir_;
};

} // namespace

TEST_F(CallerFiles, ASourceIsOpenedOnlyWhenTheCallerCouldReadIt) {
    make("mine", "alice's", 0600, kAlice);
    make("shared", "group's", 0640, 0, kShared);
    make("private", "root's", 0600);
    CallerFolder asAlice(callerOf(kAlice), dir_.path().string(), FolderUse::kRead);
    EXPECT_EQ(read(asAlice.openSource("mine")), "alice's");
    EXPECT_EQ(failure([&] { asAlice.openSource("shared"); }), CallerFileError::kRefused);
    EXPECT_EQ(failure([&] { asAlice.openSource("private"); }), CallerFileError::kRefused);
    EXPECT_EQ(failure([&] { asAlice.openSource("missing"); }), CallerFileError::kMissing);
    CallerFolder asMember(callerOf(kBob, {kShared}), dir_.path().string(), FolderUse::kRead);
    EXPECT_EQ(read(asMember.openSource("shared")), "group's");
    // The service itself reads what its own rights allow.
    EXPECT_EQ(read(CallerFolder(Caller::service(), dir_.path().string(), FolderUse::kRead).openSource("private")),
              "root's");
    // Nobody the bus could not name reads anything.
    EXPECT_EQ(failure([&] { CallerFolder(Caller::unknown(), dir_.path().string(), FolderUse::kRead); }),
              CallerFileError::kRefused);
}

// A link as the last name is never followed, even to a file the caller may
// read; links on the way are, with the caller's search right on every
// folder they lead through.
TEST_F(CallerFiles, LinksAreFollowedOnlyOnTheWayAndOnlyWhereTheCallerCouldGo) {
    make("open", "open", 0644);
    fs::create_symlink(dir_ / "open", dir_ / "link");
    CallerFolder asAlice(callerOf(kAlice), dir_.path().string(), FolderUse::kRead);
    EXPECT_EQ(failure([&] { asAlice.openSource("link"); }), CallerFileError::kRefused);

    fs::path closed = folder("closed", 0700);
    make("closed/inside", "secret", 0644);
    fs::create_symlink(closed, dir_ / "way");
    fs::create_symlink("./closed", dir_ / "open2"); // relative to its own folder
    for (const char* path : {"way", "closed", "open2"})
        EXPECT_EQ(failure([&] { CallerFolder(callerOf(kAlice), (dir_ / path).string(), FolderUse::kRead); }),
                  CallerFileError::kRefused)
            << path;
    ::chmod(closed.c_str(), 0711);
    CallerFolder through(callerOf(kAlice), (dir_ / "way").string(), FolderUse::kRead);
    EXPECT_EQ(read(through.openSource("inside")), "secret");
    // "." and ".." in a folder resolve as the kernel would.
    CallerFolder dotted(callerOf(kAlice), (dir_ / "closed" / ".." / "." / "closed").string(), FolderUse::kRead);
    EXPECT_EQ(read(dotted.openSource("inside")), "secret");

    fs::create_symlink(dir_ / "loop2", dir_ / "loop1");
    fs::create_symlink(dir_ / "loop1", dir_ / "loop2");
    EXPECT_EQ(failure([&] { CallerFolder(callerOf(kAlice), (dir_ / "loop1").string(), FolderUse::kRead); }),
              CallerFileError::kRefused);
    EXPECT_EQ(failure([&] { CallerFolder(callerOf(kAlice), "relative/folder", FolderUse::kRead); }),
              CallerFileError::kRefused);
}

// Pipes, devices, folders and the kernel's own files are no data to send.
TEST_F(CallerFiles, OnlyPlainFilesOfRealFileSystemsAreSources) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
    folder("sub", 0755);
    CallerFolder here(Caller::service(), dir_.path().string(), FolderUse::kRead);
    EXPECT_EQ(failure([&] { here.openSource("fifo"); }), CallerFileError::kNotFile);
    EXPECT_EQ(failure([&] { here.openSource("sub"); }), CallerFileError::kNotFile);
    CallerFolder proc(Caller::service(), "/proc/self", FolderUse::kRead);
    EXPECT_EQ(failure([&] { proc.openSource("status"); }), CallerFileError::kNotFile);
    CallerFolder dev(Caller::service(), "/dev", FolderUse::kRead);
    EXPECT_EQ(failure([&] { dev.openSource("zero"); }), CallerFileError::kNotFile);
}

TEST_F(CallerFiles, ATargetFolderMustBeTheCallersToWrite) {
    fs::path theirs = folder("theirs", 0755);
    fs::path shared = folder("shared", 0770, 0, kShared);
    fs::path readOnly = folder("ro", 0555);
    EXPECT_EQ(failure([&] { CallerFolder(callerOf(kAlice), theirs.string(), FolderUse::kWrite); }),
              CallerFileError::kRefused);
    EXPECT_NO_THROW(CallerFolder(callerOf(kAlice, {kShared}), shared.string(), FolderUse::kWrite));
    // A folder without any write bit is read-only to the service as well.
    EXPECT_EQ(failure([&] { CallerFolder(Caller::service(), readOnly.string(), FolderUse::kWrite); }),
              CallerFileError::kRefused);
}

TEST_F(CallerFiles, ANewFileAppearsWholeUnderItsNameOrNotAtAll) {
    fs::path out = folder("out", 0777);
    CallerFolder target(callerOf(kAlice), out.string(), FolderUse::kWrite);
    {
        CallerTarget file(target, "a.dat", WriteMode::kReplace);
        ASSERT_TRUE(writeAll(file.fd(), "data", 4));
        EXPECT_TRUE(fs::is_empty(out));
    } // dropped without commit
    EXPECT_TRUE(fs::is_empty(out));

    CallerTarget file(target, "a.dat", WriteMode::kReplace);
    ASSERT_TRUE(writeAll(file.fd(), "data", 4));
    EXPECT_EQ(file.commit(), "a.dat");
    EXPECT_EQ(test::readFile(out / "a.dat"), "data");
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(out / "a.dat").permissions(), fs::perms(0666 & ~mask));

    CallerTarget named(target, "", WriteMode::kReplace);
    std::string name = named.commit();
    EXPECT_EQ(name.rfind("@zv", 0), 0u);
    EXPECT_TRUE(fs::exists(out / name));
}

// A replaced file keeps its mode (losing only a read-only state) and, where
// the service may not keep its owner, its owner keeps the rights by name.
TEST_F(CallerFiles, AReplacedFileKeepsItsModeAndItsOwnersRights) {
    fs::path out = folder("out", 0777);
    make("out/private.dat", "old", 0600, kAlice, kAlice);
    make("out/readonly.dat", "old", 0444, kAlice, kAlice);
    CallerFolder target(callerOf(kAlice), out.string(), FolderUse::kWrite);
    for (const char* name : {"private.dat", "readonly.dat"}) {
        CallerTarget file(target, name, WriteMode::kReplace);
        ASSERT_TRUE(writeAll(file.fd(), "new", 3));
        file.commit();
        EXPECT_EQ(test::readFile(out / name), "new");
    }
    struct stat st {};
    ASSERT_EQ(::stat((out / "private.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, kAlice); // root may keep it
    ASSERT_EQ(::stat((out / "readonly.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// In a folder with the sticky bit, only the file's or the folder's owner
// may replace a file.
TEST_F(CallerFiles, AStickyFolderKeepsOthersFilesFromTheCaller) {
    fs::path sticky = folder("sticky", 01777);
    make("sticky/bobs.dat", "bob", 0666, kBob);
    make("sticky/alices.dat", "alice", 0600, kAlice);
    CallerFolder target(callerOf(kAlice), sticky.string(), FolderUse::kWrite);
    EXPECT_EQ(failure([&] { CallerTarget(target, "bobs.dat", WriteMode::kReplace).commit(); }),
              CallerFileError::kRefused);
    EXPECT_EQ(test::readFile(sticky / "bobs.dat"), "bob");
    CallerTarget mine(target, "alices.dat", WriteMode::kReplace);
    ASSERT_TRUE(writeAll(mine.fd(), "new", 3));
    EXPECT_EQ(mine.commit(), "alices.dat");
    // Appending writes the file itself: the caller needs the right to write it.
    EXPECT_NO_THROW(CallerTarget(target, "bobs.dat", WriteMode::kAppend));
    make("sticky/bobs.dat", "bob", 0644, kBob);
    EXPECT_EQ(failure([&] { CallerTarget(target, "bobs.dat", WriteMode::kAppend); }), CallerFileError::kRefused);
}

TEST_F(CallerFiles, AnAppendIsTakenBackUnlessCommitted) {
    fs::path out = folder("out", 0777);
    make("out/log.dat", "one,", 0666, kAlice);
    CallerFolder target(callerOf(kAlice), out.string(), FolderUse::kWrite);
    {
        CallerTarget file(target, "log.dat", WriteMode::kAppend);
        ASSERT_TRUE(writeAll(file.fd(), "two,", 4));
        EXPECT_EQ(test::readFile(out / "log.dat"), "one,two,");
    }
    EXPECT_EQ(test::readFile(out / "log.dat"), "one,");
    CallerTarget file(target, "log.dat", WriteMode::kAppend);
    ASSERT_TRUE(writeAll(file.fd(), "three", 5));
    file.commit();
    EXPECT_EQ(test::readFile(out / "log.dat"), "one,three");
    // A target that is not there yet is made, whole at the commit.
    CallerTarget fresh(target, "new.dat", WriteMode::kAppend);
    ASSERT_TRUE(writeAll(fresh.fd(), "x", 1));
    EXPECT_FALSE(fs::exists(out / "new.dat"));
    fresh.commit();
    EXPECT_EQ(test::readFile(out / "new.dat"), "x");
}
