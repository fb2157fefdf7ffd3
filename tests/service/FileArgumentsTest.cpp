// The file and folder arguments of the transfer methods: plain names in
// absolute folders, sources that are data, and the modes of what they write.
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "tests/service/TransferFixture.h"

using namespace plx;
using test::readFile;
using test::TransferFixture;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

void expectTriple(const ApiResult& r, std::int32_t code, std::int32_t detail, const std::string& message) {
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.detail, detail);
    EXPECT_EQ(r.message, message);
}

std::size_t receivedByCenter(TransferFixture& f) {
    fs::path received = f.center().store() / "received";
    if (!fs::exists(received)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(received), fs::directory_iterator()));
}

// A delivery waiting in the register, as the gateway leaves one.
fs::path addDelivery(TransferFixture& f, const std::string& centerName, const std::string& content) {
    fs::path data = test::makeTempFile(f.tempFolder());
    writeFile(data, content);
    CenterRecord r;
    r.sectionName = makeSectionName("K001", data.string());
    r.svDataFilename = centerName;
    r.status = kStatusDone;
    r.sendRecvFlag = kDirectionRecv;
    writeCenterRecord(r);
    return data;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

constexpr const char* kBadName = "ファイル名の指定が不正です";
constexpr const char* kBadFolder = "ディレクトリの指定が不正です";

} // namespace

// "../" in a name reached outside the named folder: a name is one entry of
// its folder, nothing more.
TEST(PathArguments, ANameIsOnePlainEntryOfItsFolder) {
    TransferFixture f;
    writeFile(f.home() / "outside.dat", "not to be sent");
    fs::create_directory(f.userFolder() / "sub");
    writeFile(f.userFolder() / "sub" / "in.dat", "x");
    std::string staged;
    for (const char* name : {"../outside.dat", "sub/in.dat", "..", "."}) {
        SCOPED_TRACE(name);
        expectTriple(f.transport().PLSendData("K001", f.userFolder().string(), name), 4, 3, kBadName);
        expectTriple(f.transport().PLSetData("K001", f.userFolder().string(), name, 0, 1, staged), 4, 3, kBadName);
        std::string wanted = name;
        std::int32_t size = 0;
        expectTriple(f.transport().PLRecvData("K001", f.userFolder().string(), wanted, 0, size), 4, 3, kBadName);
    }
    EXPECT_EQ(receivedByCenter(f), 0u);
    EXPECT_TRUE(loadCenterRecords().empty());

    fs::path data = addDelivery(f, "center.dat", "delivered");
    std::string name = "../escaped.dat";
    expectTriple(f.transport().PLGetDataA("K001", data.filename().string(), f.userFolder().string(), name, 0), 4, 4,
                 kBadName);
    std::int32_t count = -1;
    expectTriple(f.transport().PLGetData("K001", "", "", "", 0, 0, 0, f.userFolder().string(), "../escaped.dat", count),
                 4, 9, kBadName);
    EXPECT_FALSE(fs::exists(f.home() / "escaped.dat"));
    EXPECT_EQ(loadCenterRecords().at(0).status, kStatusDone);
}

// A relative folder meant one of the service's own working folder.
TEST(PathArguments, AFolderIsNamedFromTheRoot) {
    TransferFixture f;
    writeFile(f.userFolder() / "a.dat", "x");
    fs::path cwd = fs::current_path();
    fs::current_path(f.home());
    std::string staged, name = "a.dat";
    std::int32_t size = 0, count = 0;
    expectTriple(f.transport().PLSendData("K001", "user", "a.dat"), 4, 2, kBadFolder);
    expectTriple(f.transport().PLSetData("K001", "user", "a.dat", 0, 1, staged), 4, 2, kBadFolder);
    expectTriple(f.transport().PLRecvData("K001", "user", name, 0, size), 4, 2, kBadFolder);
    fs::path data = addDelivery(f, "center.dat", "delivered");
    expectTriple(f.transport().PLGetDataA("K001", data.filename().string(), "user", name, 0), 4, 3, kBadFolder);
    expectTriple(f.transport().PLGetData("K001", "", "", "", 0, 0, 0, "user", "", count), 4, 8, kBadFolder);
    fs::current_path(cwd);
    EXPECT_EQ(receivedByCenter(f), 0u);
}

// The kernel's own "regular files" are no data to send or stage.
TEST(PathArguments, KernelFilesAreNoSources) {
    TransferFixture f;
    expectTriple(f.transport().PLSendData("K001", "/proc/self", "status"), 3, 2, "指定されたファイルが存在しません");
    std::string staged;
    expectTriple(f.transport().PLSetData("K001", "/proc/self", "environ", 0, 1, staged), 3, 2,
                 "指定されたファイルが存在しません");
    EXPECT_EQ(receivedByCenter(f), 0u);
    // A link as the name is not followed, even to a plain file.
    writeFile(f.home() / "target.dat", "x");
    fs::create_symlink(f.home() / "target.dat", f.userFolder() / "link.dat");
    expectTriple(f.transport().PLSendData("K001", f.userFolder().string(), "link.dat"), 3, 2, kBadName);
    expectTriple(f.transport().PLSetData("K001", f.userFolder().string(), "link.dat", 0, 1, staged), 4, 3, kBadName);
}

// A received file that replaces a user's 0600 file came out 0644.
TEST(FileModes, AReplacedFileKeepsItsModeANewOneFollowsTheUmask) {
    TransferFixture f;
    fs::create_directories(f.center().store() / "outbox");
    writeFile(f.center().store() / "outbox" / "1.dat", "first");
    writeFile(f.center().store() / "outbox" / "2.dat", "second");
    writeFile(f.userFolder() / "private.dat", "old");
    ::chmod((f.userFolder() / "private.dat").c_str(), 0600);
    std::string name = "private.dat";
    std::int32_t size = 0;
    ASSERT_TRUE(f.transport().PLRecvData("K001", f.userFolder().string(), name, 0, size));
    EXPECT_EQ(readFile(f.userFolder() / "private.dat"), "first");
    EXPECT_EQ(modeOf(f.userFolder() / "private.dat"), 0600u);

    mode_t mask = ::umask(0);
    ::umask(mask);
    name = "new.dat";
    ASSERT_TRUE(f.transport().PLRecvData("K001", f.userFolder().string(), name, 0, size));
    EXPECT_EQ(modeOf(f.userFolder() / "new.dat"), 0666u & ~mask);
    // Nothing of the writing stays beside them.
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(f.userFolder())) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"new.dat", "private.dat"}));

    // A delivery picked up over a 0640 file keeps that too.
    writeFile(f.userFolder() / "picked.dat", "old");
    ::chmod((f.userFolder() / "picked.dat").c_str(), 0640);
    fs::path data = addDelivery(f, "", "delivered");
    name = "picked.dat";
    ASSERT_TRUE(f.transport().PLGetDataA("K001", data.filename().string(), f.userFolder().string(), name, 0));
    EXPECT_EQ(readFile(f.userFolder() / "picked.dat"), "delivered");
    EXPECT_EQ(modeOf(f.userFolder() / "picked.dat"), 0640u);
}

// Staged copies and the register are the service's alone: they held other
// users' data world-readable.
TEST(FileModes, StagedFilesAndTheRegisterArePrivate) {
    TransferFixture f;
    mode_t mask = ::umask(0022);
    writeFile(f.userFolder() / "a.dat", "staged");
    std::string staged;
    ApiResult r = f.transport().PLSetData("K001", f.userFolder().string(), "a.dat", 0, 3, staged);
    ::umask(mask);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(readFile(staged), "staged");
    EXPECT_EQ(modeOf(staged), 0600u);
    EXPECT_EQ(modeOf(centerIniPath()), 0600u);
}
