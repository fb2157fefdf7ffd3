#include "platform/PendingFile.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/FileAccess.h"
#include "platform/LinkJournal.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kWriter = 60321, kOldOwner = 60322;
constexpr gid_t kWriterGroup = 60331, kOldGroup = 60332;

class Folder {
public:
    Folder() : fd_(::open(dir_.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    int fd() const { return fd_.get(); }
    fs::path operator/(std::string_view name) const { return dir_ / name; }
    const fs::path& path() const { return dir_.path(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_.path())) out.push_back(e.path().filename().string());
        return out;
    }

private:
    test::TempDir dir_;
    UniqueFd fd_;
};

void write(PendingFile& file, std::string_view text) { ASSERT_TRUE(writeAll(file.fd(), text.data(), text.size())); }

// Runs body in a child process as another user; its exit status.
int runAs(uid_t uid, gid_t gid, const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        gid_t groups[] = {gid};
        if (::setgroups(1, groups) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
            ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(PendingFile, NothingIsSeenUntilItIsPlacedAndNothingStaysWhenItIsNot) {
    Folder folder;
    {
        PendingFile file(folder.fd(), 0644);
        write(file, "half");
        EXPECT_TRUE(folder.names().empty());
    }
    EXPECT_TRUE(folder.names().empty());
    PendingFile file(folder.fd(), 0644);
    write(file, "whole");
    file.linkAs("a.dat");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"a.dat"});
    EXPECT_EQ(test::readFile(folder / "a.dat"), "whole");
}

// The record folder of a replace stayed until the next start.
TEST(PendingFile, AReplaceLeavesNoRecordBehind) {
    Folder folder;
    test::TempDir home;
    LinkRecord::useFolder(home / "records");
    test::writeFile(folder / "a.dat", "old");
    {
        PendingFile file(folder.fd(), 0644);
        write(file, "new");
        file.replace("a.dat");
    }
    LinkRecord::useFolder({});
    EXPECT_EQ(folder.names(), std::vector<std::string>{"a.dat"});
    EXPECT_FALSE(fs::exists(home / "records"));
}

// A process killed while it writes leaves no trace in the folder.
TEST(PendingFile, ACrashWhileWritingLeavesNothing) {
    Folder folder;
    pid_t child = ::fork();
    if (child == 0) {
        PendingFile file(folder.fd(), 0644);
        std::string block(1 << 20, 'x');
        for (int i = 0; i < 4; ++i) (void)writeAll(file.fd(), block.data(), block.size());
        ::raise(SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(folder.names().empty());
}

TEST(PendingFile, ANewNameNeverTakesAnExistingFile) {
    Folder folder;
    test::writeFile(folder / "a.dat", "old");
    PendingFile file(folder.fd(), 0644);
    write(file, "new");
    try {
        file.linkAs("a.dat");
        FAIL() << "linked over an existing file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
    EXPECT_EQ(test::readFile(folder / "a.dat"), "old");
    std::string name = file.linkUnique("@zv");
    EXPECT_EQ(name.rfind("@zv", 0), 0u);
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_EQ(test::readFile(folder / name), "new");
    EXPECT_EQ(folder.names().size(), 2u);
}

TEST(PendingFile, AReplacedFileKeepsItsModeButNeverASetId) {
    Folder folder;
    test::writeFile(folder / "t", "old");
    ASSERT_EQ(::chmod((folder / "t").c_str(), 04750), 0);
    UniqueFd old(::open((folder / "t").c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    ASSERT_EQ(::fstat(old.get(), &st), 0);
    PendingFile file(folder.fd(), 0666);
    write(file, "new");
    file.keepPermissionsOf(old.get(), st);
    file.replace("t");
    ASSERT_EQ(::stat((folder / "t").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(test::readFile(folder / "t"), "new");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"t"});
}

// A writer that may not give the file to its old owner and group names them
// in the file's ACL instead: the old owner still reads its file, the
// writer's own group gets nothing the old group had.
TEST(PendingFile, AnOwnerThatCannotBeKeptKeepsItsRightsByName) {
    if (::geteuid() != 0) GTEST_SKIP() << "other uids need root";
    Folder folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    test::writeFile(folder / "t", "old");
    ASSERT_EQ(::chown((folder / "t").c_str(), kOldOwner, kOldGroup), 0);
    ASSERT_EQ(::chmod((folder / "t").c_str(), 0640), 0);

    int status = runAs(kWriter, kWriterGroup, [&] {
        try {
            UniqueFd dir(::open(folder.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            UniqueFd old(::open((folder / "t").c_str(), O_PATH | O_CLOEXEC));
            struct stat st {};
            if (!dir || !old || ::fstat(old.get(), &st) != 0) return 1;
            PendingFile file(dir.get(), 0666);
            if (!writeAll(file.fd(), "new", 3)) return 2;
            file.keepPermissionsOf(old.get(), st);
            file.replace("t");
            return 0;
        } catch (const std::exception&) {
            return 3;
        }
    });
    ASSERT_EQ(status, 0);
    UniqueFd placed(::open((folder / "t").c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    ASSERT_EQ(::fstat(placed.get(), &st), 0);
    EXPECT_EQ(st.st_uid, kWriter);
    EXPECT_EQ(st.st_mode & 0700, 0600u);
    Credentials oldOwner;
    oldOwner.uid = kOldOwner;
    oldOwner.gid = 1;
    EXPECT_TRUE(mayAccess(oldOwner, placed.get(), st, kAccessRead | kAccessWrite));
    Credentials oldGroupMember;
    oldGroupMember.uid = 60399;
    oldGroupMember.gid = kOldGroup;
    EXPECT_TRUE(mayAccess(oldGroupMember, placed.get(), st, kAccessRead));
    EXPECT_FALSE(mayAccess(oldGroupMember, placed.get(), st, kAccessWrite));
    Credentials writersGroup = oldGroupMember;
    writersGroup.gid = kWriterGroup;
    EXPECT_FALSE(mayAccess(writersGroup, placed.get(), st, kAccessRead));
    // And the kernel agrees: the old owner opens it.
    EXPECT_EQ(
        runAs(kOldOwner, kOldGroup, [&] { return ::open((folder / "t").c_str(), O_RDWR | O_CLOEXEC) >= 0 ? 0 : 1; }),
        0);
}
