#include "platform/FileAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/Credentials.h"
#include "platform/UniqueFd.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOwner = 60301, kNamed = 60302, kStranger = 60303;
constexpr gid_t kGroup = 60310, kNamedGroup = 60311;

Credentials who(uid_t uid, gid_t gid, std::vector<gid_t> groups = {}) {
    Credentials c;
    c.uid = uid;
    c.gid = gid;
    c.groups = std::move(groups);
    return c;
}

struct stat statOf(uid_t uid, gid_t gid, mode_t mode) {
    struct stat st {};
    st.st_uid = uid;
    st.st_gid = gid;
    st.st_mode = S_IFREG | mode;
    return st;
}

// The kernel's stored form, built here by hand.
std::string rawAcl(const std::vector<std::tuple<int, int, std::uint32_t>>& entries) {
    std::string raw{2, 0, 0, 0};
    for (auto [tag, perm, id] : entries) {
        raw += {static_cast<char>(tag), 0, static_cast<char>(perm), 0};
        for (int i = 0; i < 4; ++i) raw += static_cast<char>((id >> (8 * i)) & 0xFF);
    }
    return raw;
}

constexpr std::uint32_t kNone = 0xFFFFFFFF;

} // namespace

TEST(FileAccess, ModeBitsDecideByOwnerThenGroupThenOthers) {
    AccessAcl acl = AccessAcl::fromMode(0640);
    struct stat st = statOf(kOwner, kGroup, 0640);
    EXPECT_TRUE(acl.permits(who(kOwner, 1), st, kAccessRead | kAccessWrite));
    EXPECT_TRUE(acl.permits(who(kStranger, 1, {kGroup}), st, kAccessRead));
    EXPECT_FALSE(acl.permits(who(kStranger, 1, {kGroup}), st, kAccessWrite));
    EXPECT_FALSE(acl.permits(who(kStranger, 1), st, kAccessRead));
    // A group member is judged by the group bits alone, even when others may more.
    AccessAcl othersMore = AccessAcl::fromMode(0604);
    EXPECT_FALSE(othersMore.permits(who(kStranger, kGroup), statOf(kOwner, kGroup, 0604), kAccessRead));
    EXPECT_TRUE(othersMore.permits(who(kStranger, 1), statOf(kOwner, kGroup, 0604), kAccessRead));
    // So is the owner by the owner bits.
    EXPECT_FALSE(AccessAcl::fromMode(0077).permits(who(kOwner, kGroup), statOf(kOwner, kGroup, 0077), kAccessRead));
}

TEST(FileAccess, CapabilitiesOverrideAsTheKernelDoes) {
    Credentials root = who(0, 0);
    root.overridesAccess = root.readsAll = true;
    struct stat file = statOf(kOwner, kGroup, 0000);
    AccessAcl none = AccessAcl::fromMode(0);
    EXPECT_TRUE(none.permits(root, file, kAccessRead | kAccessWrite));
    EXPECT_FALSE(none.permits(root, file, kAccessSearch)); // executing needs some execute bit
    Credentials reader = who(kStranger, 1);
    reader.readsAll = true;
    EXPECT_TRUE(none.permits(reader, file, kAccessRead));
    EXPECT_FALSE(none.permits(reader, file, kAccessWrite));
    struct stat folder = file;
    folder.st_mode = S_IFDIR;
    EXPECT_TRUE(none.permits(reader, folder, kAccessRead | kAccessSearch));
    // Root without its capabilities is just another user.
    EXPECT_FALSE(none.permits(who(0, 0), file, kAccessRead));
}

// A file with an access ACL, written by hand in the kernel's form: the
// named entries count through the mask, and a matching group that does not
// grant keeps others' rights away.
TEST(FileAccess, StoredAclIsReadAndJudgedWithItsMask) {
    test::TempDir dir;
    fs::path file = dir / "f";
    test::writeFile(file, "x");
    std::string raw = rawAcl({{0x01, 6, kNone},
                              {0x02, 7, kNamed},
                              {0x04, 0, kNone},
                              {0x08, 6, kNamedGroup},
                              {0x10, 4, kNone},
                              {0x20, 4, kNone}});
    ASSERT_EQ(::setxattr(file.c_str(), "system.posix_acl_access", raw.data(), raw.size(), 0), 0) << errno;
    ASSERT_EQ(::chown(file.c_str(), kOwner, kGroup), 0);
    UniqueFd fd(::open(file.c_str(), O_PATH | O_CLOEXEC));
    struct stat st {};
    ASSERT_EQ(::fstat(fd.get(), &st), 0);
    EXPECT_TRUE(mayAccess(who(kNamed, 1), fd.get(), st, kAccessRead));
    EXPECT_FALSE(mayAccess(who(kNamed, 1), fd.get(), st, kAccessWrite)); // rwx through the mask r--
    EXPECT_TRUE(mayAccess(who(kStranger, 1, {kNamedGroup}), fd.get(), st, kAccessRead));
    EXPECT_FALSE(mayAccess(who(kStranger, kGroup), fd.get(), st, kAccessRead)); // its group entry grants nothing
    EXPECT_TRUE(mayAccess(who(kStranger, 1), fd.get(), st, kAccessRead));       // others
    EXPECT_TRUE(mayAccess(who(kOwner, 1), fd.get(), st, kAccessWrite));
}

TEST(FileAccess, AnAclWrittenGivesTheNamedTheirRightsAndNoMore) {
    test::TempDir dir;
    fs::path file = dir / "f";
    test::writeFile(file, "x");
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
    AccessAcl acl = AccessAcl::fromMode(0600);
    acl.grant(AccessAcl::kUser, kNamed, kAccessRead | kAccessWrite);
    acl.grant(AccessAcl::kGroup, kNamedGroup, kAccessRead);
    ASSERT_TRUE(acl.applyTo(fd.get())) << errno;
    struct stat st {};
    ASSERT_EQ(::fstat(fd.get(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u); // the mask shows as the group bits
    EXPECT_TRUE(mayAccess(who(kNamed, 1), fd.get(), st, kAccessRead | kAccessWrite));
    EXPECT_TRUE(mayAccess(who(kStranger, 1, {kNamedGroup}), fd.get(), st, kAccessRead));
    EXPECT_FALSE(mayAccess(who(kStranger, 1, {kNamedGroup}), fd.get(), st, kAccessWrite));
    EXPECT_FALSE(mayAccess(who(kStranger, st.st_gid), fd.get(), st, kAccessRead)); // the owning group: none
}

// What a process holds now, not what its user might: a process that dropped
// its groups has none of them.
TEST(Credentials, AreTheProcesssOwnAndOnlyWhileItRunsAsTheUser) {
    auto self = processCredentials(::getpid(), ::geteuid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->uid, ::geteuid());
    EXPECT_EQ(self->gid, ::getegid());
    EXPECT_FALSE(processCredentials(::getpid(), ::geteuid() + 1));
    EXPECT_FALSE(processCredentials(999999999, ::geteuid()));
    std::optional<std::uint64_t> started = processStartTime(::getpid());
    ASSERT_TRUE(started);
    EXPECT_TRUE(processCredentials(::getpid(), ::geteuid(), *started));
    EXPECT_FALSE(processCredentials(::getpid(), ::geteuid(), *started + 1)); // a later process given the pid
    if (::geteuid() != 0) GTEST_SKIP() << "other uids need root";

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        gid_t groups[] = {kNamedGroup};
        bool dropped = ::setgroups(1, groups) == 0 && ::setresgid(kGroup, kGroup, kGroup) == 0 &&
                       ::setresuid(kOwner, kOwner, kOwner) == 0;
        char c = dropped ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    auto held = processCredentials(child, kOwner);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->uid, kOwner);
    EXPECT_EQ(held->gid, kGroup);
    EXPECT_EQ(held->groups, std::vector<gid_t>{kNamedGroup});
    EXPECT_FALSE(held->overridesAccess);
    EXPECT_FALSE(held->readsAll);
}
