#include "platform/IniFile.h"
#include "tests/IniProfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

#include "tests/TestSupport.h"

using namespace plx;
using plx::test::readFile;
using plx::test::TempDir;
using plx::test::writeFile;

TEST(IniFileRead, FollowsProfileRules) {
    TempDir dir;
    auto ini = dir / "a.ini";
    writeFile(ini, "\xEF\xBB\xBF; comment\r\n"
                   "[Http]\r\n"
                   "  Daemon =  yes  \r\n"
                   "quoted=\"  spaced  \"\r\n"
                   "single='x'\r\n"
                   "half=\"open\r\n"
                   "empty=\r\n"
                   "daemon=second\r\n"
                   "noequals\r\n"
                   "[http]\r\n"
                   "other=hidden\r\n");
    EXPECT_EQ(getProfileString(ini, "HTTP", "DAEMON"), "yes");
    EXPECT_EQ(getProfileString(ini, "http", "quoted"), "  spaced  ");
    EXPECT_EQ(getProfileString(ini, "http", "single"), "x");
    EXPECT_EQ(getProfileString(ini, "http", "half"), "\"open");
    EXPECT_EQ(getProfileString(ini, "http", "empty", "dflt"), "");
    // The first of duplicate sections and keys wins.
    EXPECT_EQ(getProfileString(ini, "http", "other", "dflt"), "dflt");
    EXPECT_EQ(getProfileString(ini, "http", "noequals", "dflt"), "dflt");
    EXPECT_EQ(getProfileString(ini, "nosuch", "daemon", "dflt"), "dflt");
    EXPECT_EQ(getProfileSectionNames(ini), (std::vector<std::string>{"Http"}));
    EXPECT_EQ(getProfileString(dir / "missing.ini", "a", "b", "dflt"), "dflt");
}

TEST(IniFileRead, IntegersTakeTheLeadingNumber) {
    TempDir dir;
    auto ini = dir / "t.ini";
    writeFile(ini, "[t]\nplain=250\nletters=abc\nmixed=12abc\nneg=-5\nzero=0\nempty=\nhuge=99999999999\n");
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "plain", 7), 250);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "letters", 7), 0);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "mixed", 7), 12);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "neg", 7), 0);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "zero", 7), 0);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "empty", 7), 7);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "missing", 7), 7);
    EXPECT_EQ(IniDocument::load(ini).getInt("t", "huge", 7), 2147483647);
}

TEST(IniFileWrite, KeepsOtherLinesAndPlacesNewKeys) {
    TempDir dir;
    auto ini = dir / "w.ini";
    writeFile(ini, "; head\n[a]\nx=1\n\n[b]\ny=2\n");
    writeProfileString(ini, "A", "X", "10");
    writeProfileString(ini, "a", "z", "3");
    writeProfileString(ini, "c", "k", "v");
    EXPECT_EQ(readFile(ini), "; head\n[a]\nx=10\nz=3\n\n[b]\ny=2\n[c]\nk=v\n");

    updateProfile(ini, [](IniDocument& doc) {
        doc.removeKey("a", "x");
        doc.removeSection("B");
    });
    EXPECT_EQ(readFile(ini), "; head\n[a]\nz=3\n\n[c]\nk=v\n");
}

TEST(IniFileWrite, KeepsCrLfAndCreatesMissingFile) {
    TempDir dir;
    auto crlf = dir / "crlf.ini";
    writeFile(crlf, "[s]\r\na=1\r\n");
    writeProfileString(crlf, "s", "b", "2");
    EXPECT_EQ(readFile(crlf), "[s]\r\na=1\r\nb=2\r\n");

    auto fresh = dir / "fresh.ini";
    writeProfileString(fresh, "s", "k", "v");
    EXPECT_EQ(getProfileString(fresh, "s", "k"), "v");
}

TEST(IniFileWrite, RefusesWhatTheFormatCannotCarry) {
    TempDir dir;
    auto ini = dir / "r.ini";
    writeFile(ini, "[s]\nk=v\n");
    // A value with a line break could plant a section of its choosing.
    EXPECT_THROW(writeProfileString(ini, "s", "k", "x\r\n[evil]\r\nstatus=3"), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s", "k", std::string("a\0b", 3)), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s]x", "k", "v"), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s\n", "k", "v"), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s", "a=b", "v"), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s", "[t]", "v"), IniFormatError);
    EXPECT_THROW(writeProfileString(ini, "s", "", "v"), IniFormatError);
    EXPECT_EQ(readFile(ini), "[s]\nk=v\n");
}

TEST(IniFileWrite, ReplacesAtomicallyKeepingMode) {
    TempDir dir;
    auto ini = dir / "m.ini";
    writeFile(ini, "[s]\nk=v\n");
    ::chmod(ini.c_str(), 0640);
    struct stat before {};
    ::stat(ini.c_str(), &before);
    writeProfileString(ini, "s", "k", "w");
    struct stat after {};
    ::stat(ini.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(before.st_ino, after.st_ino); // a new file renamed over the old one
    // No temporary file stays behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(IniFileWrite, ConcurrentWritersInOneProcessLoseNothing) {
    TempDir dir;
    auto ini = dir / "c.ini";
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) writeProfileString(ini, "s" + std::to_string(t), "k" + std::to_string(i), "v");
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(IniDocument::load(ini).keyNames("s" + std::to_string(t)).size(), 20u);
}

TEST(IniFileRead, ListsEverySectionInFileOrderWithoutLimit) {
    TempDir dir;
    auto ini = dir / "many.ini";
    std::string text;
    std::vector<std::string> expected;
    // Far beyond the 16 KB a fixed list buffer would hold.
    for (int i = 0; i < 3000; ++i) {
        std::string name = "section-with-a-long-name-" + std::to_string(2999 - i);
        expected.push_back(name);
        text += "[" + name + "]\nk=v\n";
    }
    text += "[SECTION-WITH-A-LONG-NAME-0]\nk=again\n"; // the same section, listed once
    writeFile(ini, text);
    EXPECT_EQ(getProfileSectionNames(ini), expected);
}

TEST(IniFileWrite, UpdateOfAnExistingFileOnly) {
    TempDir dir;
    auto missing = dir / "missing.ini";
    bool ran = false;
    EXPECT_FALSE(updateExistingProfile(missing, [&](IniDocument&) { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(std::filesystem::exists(missing));

    auto present = dir / "present.ini";
    writeFile(present, "[s]\r\nk=v\r\n");
    EXPECT_TRUE(updateExistingProfile(present, [](IniDocument& doc) { doc.set("s", "k", "w"); }));
    EXPECT_EQ(readFile(present), "[s]\r\nk=w\r\n");

    // A file that exists but cannot be read is an error, not a missing file.
    std::filesystem::create_directory(dir / "folder.ini");
    EXPECT_THROW(updateExistingProfile(dir / "folder.ini", [](IniDocument&) {}), std::system_error);
}

TEST(IniFileWrite, ANewFileTakesTheModeAskedFor) {
    TempDir dir;
    mode_t mask = ::umask(0022);
    updateProfile(
        dir / "private.ini", [](IniDocument& doc) { doc.set("s", "k", "v"); }, kPrivateFileMode);
    writeProfileString(dir / "plain.ini", "s", "k", "v");
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "private.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "plain.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}
