#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/Texts.h"
#include "uninstaller/UnInstall.h"

using namespace plx;
using namespace plx::uninst;
using test::FileEntry;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPlxKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX";

class UnInstallTest : public ::testing::Test {
protected:
    fs::path make(const std::string& relative, const std::string& content = "data") {
        fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        test::writeFile(path, content);
        return path;
    }
    std::string path(const std::string& relative) const { return (root_ / relative).string(); }

    int run(const std::vector<FileEntry>& files, const std::vector<std::string>& regs = {},
            const std::string& extraHeader = {}, const fs::path& started = {}) {
        test::writeFile(info_, test::infoText(base_.string(), files, regs, extraHeader));
        engine_.load(info_);
        return engine_.run(view_, info_, started);
    }

    void setCount(const std::string& file, const std::string& count) {
        writeProfileString(registryFile_, kSharedDllsKey, file, count);
    }
    // n shared files, each counted once.
    std::vector<FileEntry> sharedFiles(int n) {
        std::vector<FileEntry> files;
        for (int i = 1; i <= n; ++i) {
            std::string file = make("inst/s" + std::to_string(i)).string();
            setCount(file, "1");
            files.push_back({file, true});
        }
        return files;
    }
    std::optional<std::string> count(const std::string& file) const {
        return IniDocument::load(registryFile_).get(kSharedDllsKey, file);
    }

    TempDir root_;
    ScopedEnv home_{"HOME", (root_ / "home").string()};
    fs::path base_ = root_ / "inst";
    fs::path info_ = root_ / "app.wqi";
    fs::path registryFile_ = root_ / "registry.ini";
    TCVUnInstall engine_{RegistryStore(registryFile_)};
    test::RecordingView view_;
};

} // namespace

TEST_F(UnInstallTest, RemovesFilesFoldersAndShortcutsThenTheInfoFileLast) {
    make("inst/bin/plserv");
    make("inst/bin/libPLlog.so");
    fs::create_directories(base_ / "logs");
    make("inst/share/applications/pelorin.desktop");
    std::vector<bool> infoThere;
    view_.onStep = [&] { infoThere.push_back(fs::exists(info_)); };

    int result = run({{path("inst/bin/plserv")},
                      {path("inst/bin/libPLlog.so")},
                      {path("inst/logs")},
                      {path("inst/share/applications/pelorin.desktop")}});

    EXPECT_EQ(result, TCVUnInstall::kRemoved);
    EXPECT_FALSE(fs::exists(base_)); // emptied upward, the base folder last
    EXPECT_TRUE(fs::exists(root_.path()));
    EXPECT_FALSE(fs::exists(info_));
    EXPECT_EQ(infoThere, std::vector<bool>(4, true)); // deleted after every item
    EXPECT_EQ(view_.range, 4 + 0 + 1);
    EXPECT_EQ(view_.steps, 4);
    EXPECT_EQ(view_.pauses, 4);
    EXPECT_EQ(view_.marks, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(view_.stepsAtMark, (std::vector<int>{0, 0, 3, 4})); // the third at the shortcut
    EXPECT_EQ(engine_.shortcutFolders(), std::vector<fs::path>{base_ / "share/applications"});
}

TEST_F(UnInstallTest, AnInfoFileInTheInstallationTakesItsEmptiedFoldersAlong) {
    info_ = base_ / "bin/CVUninst.wqi";
    make("inst/bin/plserv");
    EXPECT_EQ(run({{path("inst/bin/plserv")}}), TCVUnInstall::kRemoved);
    EXPECT_FALSE(fs::exists(base_));

    // Elsewhere its folder is not the installation's.
    info_ = root_ / "keep/app.wqi";
    fs::create_directories(info_.parent_path());
    make("inst/a");
    EXPECT_EQ(run({{path("inst/a")}}), TCVUnInstall::kRemoved);
    EXPECT_FALSE(fs::exists(info_));
    EXPECT_TRUE(fs::exists(root_ / "keep"));
}

TEST_F(UnInstallTest, AHugeFileCountIsBoundedByTheFileLines) {
    make("inst/a");
    EXPECT_EQ(run({{path("inst/a")}}, {}, "FileCount=1000000000\n"), TCVUnInstall::kRemoved);
    EXPECT_EQ(engine_.header.fileCount, 1000000000);
    EXPECT_LT(view_.range, 20); // one item a line at most
    EXPECT_EQ(view_.steps, view_.range - 1);
    EXPECT_FALSE(fs::exists(base_));
}

TEST_F(UnInstallTest, WithoutAShortcutTheThirdMarkFollowsTheFiles) {
    make("inst/a");
    view_.markCount = 4;
    run({{path("inst/a")}}, {"2147483650,\\SOFTWARE\\Nothing,x"});
    EXPECT_EQ(view_.marks, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(view_.stepsAtMark, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(view_.steps, 2); // registry items step too
}

TEST_F(UnInstallTest, ASharedFileCountedTwiceStaysWithCountOne) {
    std::string lib = make("inst/lib/libshared.so").string();
    setCount(lib, "2");
    EXPECT_EQ(run({{lib, /*isShared=*/true}}), TCVUnInstall::kRemoved);
    EXPECT_TRUE(fs::exists(lib));
    EXPECT_EQ(count(lib), "1");
    EXPECT_TRUE(view_.questions.empty());
}

TEST_F(UnInstallTest, EachAnswerOfTheQuestionDecidesItsFile) {
    std::vector<FileEntry> files = sharedFiles(5);
    view_.answers = {SharedFileAnswer::No, SharedFileAnswer::Yes, SharedFileAnswer::NoToAll};
    EXPECT_EQ(run(files), TCVUnInstall::kRemoved);
    EXPECT_EQ(view_.questions, (std::vector<fs::path>{files[0].path, files[1].path, files[2].path}));
    EXPECT_TRUE(fs::exists(files[0].path));  // no
    EXPECT_FALSE(fs::exists(files[1].path)); // yes
    EXPECT_TRUE(fs::exists(files[2].path));  // no to all: this one
    EXPECT_TRUE(fs::exists(files[3].path));  // and the later ones, unasked
    EXPECT_TRUE(fs::exists(files[4].path));
    for (const auto& f : files) EXPECT_FALSE(count(f.path)) << f.path; // every count reached 0
}

TEST_F(UnInstallTest, YesToAllRemovesTheLaterSharedFilesUnasked) {
    std::vector<FileEntry> files = sharedFiles(3);
    files.push_back({make("inst/uncounted").string(), true}); // no count at all: asked as well
    view_.answers = {SharedFileAnswer::YesToAll};
    EXPECT_EQ(run(files), TCVUnInstall::kRemoved);
    EXPECT_EQ(view_.questions.size(), 1u);
    EXPECT_FALSE(fs::exists(base_));
}

TEST_F(UnInstallTest, ASharedFileWithoutACountIsAsked) {
    std::string file = make("inst/s").string();
    setCount(file, "many"); // unreadable: no count, nothing written
    view_.answers = {SharedFileAnswer::Yes};
    run({{file, true}});
    EXPECT_EQ(view_.questions.size(), 1u);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(count(file), "many");
}

TEST_F(UnInstallTest, AChangedFileStaysButItsCountAndFontStepsAreDone) {
    std::string font = make("inst/fonts/plx.ttf").string();
    std::string lib = make("inst/lib/libx.so").string();
    setCount(lib, "1");
    writeProfileString(registryFile_, kFontsKey, "PLX Gothic (TrueType)", "plx.ttf");
    writeProfileString(registryFile_, kFontsKey, "Other (TrueType)", "other.ttf");
    std::int64_t changed = test::fileAge(lib) - 100;

    FileEntry fontItem{font};
    fontItem.font = true;
    fontItem.fontValueName = "PLX Gothic (TrueType)";
    fontItem.fileTime = test::fileAge(font) + 7;
    FileEntry libItem{lib, true};
    libItem.fileTime = changed;
    EXPECT_EQ(run({fontItem, libItem}), TCVUnInstall::kRemoved);
    ASSERT_EQ(engine_.keptFiles().size(), 2u); // kept by rule, and told
    EXPECT_EQ(engine_.keptFiles()[0].reason, kKeptChanged);
    EXPECT_FALSE(engine_.keptFiles()[0].failed);
    EXPECT_EQ(engine_.keptFiles()[1].path, lib);

    EXPECT_TRUE(fs::exists(font));
    EXPECT_TRUE(fs::exists(lib));
    EXPECT_FALSE(count(lib));
    EXPECT_TRUE(view_.questions.empty());
    EXPECT_EQ(getProfileString(registryFile_, kFontsKey, "PLX Gothic (TrueType)", "(gone)"), "(gone)");
    EXPECT_EQ(getProfileString(registryFile_, kFontsKey, "Other (TrueType)"), "other.ttf");
}

TEST_F(UnInstallTest, AFileOfTheRecordedAgeGoesAndAFontWithIt) {
    std::string font = make("inst/fonts/plx.ttf").string();
    FileEntry item{font};
    item.font = true;
    item.fileTime = test::fileAge(font);
    EXPECT_EQ(run({item}), TCVUnInstall::kRemoved);
    EXPECT_FALSE(fs::exists(font));
}

TEST_F(UnInstallTest, AFileAnotherProductCountsStays) {
    std::string lib = make("inst/lib/libcommon.so").string();
    setCount(lib, "1");
    EXPECT_EQ(run({{lib}}), TCVUnInstall::kRemoved);
    EXPECT_TRUE(fs::exists(lib));
    EXPECT_EQ(count(lib), "1"); // not ours to count down
}

TEST_F(UnInstallTest, SelfRegisteringFilesAreUnregisteredBeforeTheyGo) {
    std::string program = make("inst/bin/plserv", "#!/bin/sh\necho \"$@\" > '" + path("mark") + "'\n").string();
    ::chmod(program.c_str(), 0755);
    std::string kept = make("inst/bin/keep", "#!/bin/sh\necho ran > '" + path("kept-mark") + "'\n").string();
    ::chmod(kept.c_str(), 0755);
    setCount(kept, "3");
    FileEntry keptItem{kept, true, true};
    EXPECT_EQ(run({{program, false, true}, keptItem}), TCVUnInstall::kRemoved);
    EXPECT_EQ(test::readFile(root_ / "mark"), "/unregserver\n");
    EXPECT_FALSE(fs::exists(program));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(root_ / "kept-mark")); // a file that stays keeps its registration
}

TEST_F(UnInstallTest, TheStartedProgramIsLeftForTheProgramItself) {
    std::string program = make("inst/bin/CVUninst").string();
    std::string other = make("inst/bin/other").string();
    EXPECT_EQ(run({{program}, {other}}, {}, {}, program), TCVUnInstall::kRemoved);
    EXPECT_TRUE(fs::exists(program));
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(view_.steps, 1); // the skipped item takes no step
}

TEST_F(UnInstallTest, TheParentWalkStopsAtProtectedFolders) {
    make("shared/plx/fonts/a.ttf");
    make("home/Desktop/pelorin.desktop");
    make("inst/Data/B.TXT");
    fs::create_directories(root_ / "inst/data");
    EXPECT_EQ(run({{":shared:/plx/fonts/a.ttf"}, {path("home/Desktop/pelorin.desktop")}, {path("inst/Data/B.TXT")}}, {},
                  "RegRefCount=1\nVal0=1,0,,SHARED," + path("shared") + ",\n"),
              TCVUnInstall::kRemoved);
    EXPECT_FALSE(fs::exists(root_ / "shared/plx"));
    EXPECT_TRUE(fs::exists(root_ / "shared"));       // a macro folder
    EXPECT_TRUE(fs::exists(root_ / "home/Desktop")); // a home's own folder
    EXPECT_FALSE(fs::exists(root_ / "inst/Data"));   // the case as written
    EXPECT_TRUE(fs::exists(root_ / "inst/data"));
}

// A tampered file: ".." out of the base, a relative entry (taken against the
// current folder, /etc while the program runs), and a file outside the base
// whose empty folders are not the installation's.
TEST_F(UnInstallTest, NothingOutsideTheInstallationGoes) {
    make("outside/x");
    make("cwd/victim");
    fs::create_directories(root_ / "other/empty");
    make("inst/a");
    fs::path was = fs::current_path();
    fs::current_path(root_ / "cwd");
    int result = run({{path("inst/../outside/x")}, {"victim"}, {path("other/empty/gone")}, {path("inst/a")}});
    fs::current_path(was);
    EXPECT_EQ(result, TCVUnInstall::kFilesKept);
    EXPECT_TRUE(fs::exists(root_ / "outside/x"));
    EXPECT_TRUE(fs::exists(root_ / "cwd/victim"));
    EXPECT_TRUE(fs::exists(root_ / "other/empty"));
    EXPECT_FALSE(fs::exists(base_)); // what is the installation's still goes
}

// A folder of the installation replaced by a link: nothing through it goes,
// neither the listed file nor the folders the walk upward would empty.
TEST_F(UnInstallTest, NothingGoesThroughALinkedFolder) {
    make("outside/victim");
    make("outside/sub/x");
    make("inst/bin/a");
    fs::create_directory_symlink(root_ / "outside", base_ / "bin/lnk");
    EXPECT_EQ(run({{path("inst/bin/lnk/victim")}, {path("inst/bin/lnk/sub/x")}, {path("inst/bin/a")}}),
              TCVUnInstall::kFilesKept);
    EXPECT_TRUE(fs::exists(root_ / "outside/victim"));
    EXPECT_TRUE(fs::exists(root_ / "outside/sub/x"));
    ASSERT_EQ(engine_.keptFiles().size(), 2u);
    EXPECT_EQ(engine_.keptFiles()[1].path, path("inst/bin/lnk/sub/x"));
    EXPECT_EQ(engine_.keptFiles()[1].reason, kKeptThroughLink);
    EXPECT_FALSE(fs::exists(base_ / "bin/a"));
    EXPECT_TRUE(fs::exists(info_));
}

TEST_F(UnInstallTest, AnItemWithTextKeepsItsFolders) {
    make("inst/bin/a");
    FileEntry item{path("inst/bin/a")};
    item.text = "keep";
    run({item});
    EXPECT_FALSE(fs::exists(root_ / "inst/bin/a"));
    EXPECT_TRUE(fs::exists(root_ / "inst/bin"));
}

TEST_F(UnInstallTest, AFileThatCannotBeDeletedGivesThree) {
    std::string locked = make("inst/locked/a").string();
    make("inst/b");
    test::Undeletable keep(locked);
    if (!keep.active()) GTEST_SKIP() << "no way to keep a file here";
    EXPECT_EQ(run({{locked}, {path("inst/b")}}), TCVUnInstall::kFilesKept);
    EXPECT_TRUE(fs::exists(locked));
    EXPECT_FALSE(fs::exists(root_ / "inst/b")); // the run went on
    EXPECT_TRUE(fs::exists(info_));             // to run it again
    ASSERT_EQ(engine_.keptFiles().size(), 1u);
    EXPECT_EQ(engine_.keptFiles()[0].path, locked);
    EXPECT_TRUE(engine_.keptFiles()[0].failed);
}

TEST_F(UnInstallTest, AnInfoFileThatCannotBeDeletedGivesOne) {
    info_ = root_ / "locked/app.wqi";
    fs::create_directories(info_.parent_path());
    make("inst/a");
    test::writeFile(info_, test::infoText(base_.string(), {{path("inst/a")}}));
    test::Undeletable keep(info_);
    if (!keep.active()) GTEST_SKIP() << "no way to keep a file here";
    engine_.load(info_);
    EXPECT_EQ(engine_.run(view_, info_), TCVUnInstall::kInfoFileKept);
    EXPECT_FALSE(fs::exists(root_ / "inst/a"));
    EXPECT_EQ(view_.marks.size(), 4u);

    // A listed file that stays as well: three wins.
    make("inst/locked2/b");
    test::Undeletable keepFile(root_ / "inst/locked2/b");
    test::writeFile(root_ / "other.wqi", test::infoText(base_.string(), {{path("inst/locked2/b")}}));
    engine_.load(root_ / "other.wqi");
    EXPECT_EQ(engine_.run(view_, info_), TCVUnInstall::kFilesKept);
}

TEST_F(UnInstallTest, RegistryItemsGoWithTheirEmptyKeys) {
    writeProfileString(registryFile_, "HKEY_LOCAL_MACHINE\\SOFTWARE", "keep", "1");
    test::writeFile(registryFile_, test::readFile(registryFile_) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane]\n");
    writeProfileString(registryFile_, kPlxKey, "InstallDir", "/opt/plx");
    writeProfileString(registryFile_, kPlxKey, "Version", "1.0");
    writeProfileString(registryFile_, "HKEY_CLASSES_ROOT\\PelorinIO.Client", "@", "Client Class");
    writeProfileString(registryFile_, "HKEY_CLASSES_ROOT\\PelorinIO.Client\\CLSID", "@", "{A4D2}");
    writeProfileString(registryFile_, "HKEY_CURRENT_USER\\Software\\Korvane", "Window", "1");

    EXPECT_EQ(run({},
                  {
                      "2147483650,\\SOFTWARE\\Korvane\\PLX,InstallDir",
                      "2147483650,\\SOFTWARE\\Korvane\\PLX\\,Version",
                      "2147483648,PelorinIO.Client,,,1,No,Yes",
                      "2147483649,\\Software\\Korvane,Missing",
                      "99,\\SOFTWARE\\Korvane,keep",
                  }),
              TCVUnInstall::kRemoved);
    auto sections = getProfileSectionNames(registryFile_);
    EXPECT_EQ(sections,
              (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_CURRENT_USER\\Software\\Korvane"}));
    EXPECT_EQ(getProfileString(registryFile_, "HKEY_LOCAL_MACHINE\\SOFTWARE", "keep"), "1");
    EXPECT_EQ(view_.steps, 5); // skipped items step too
}

TEST_F(UnInstallTest, ARegistryItemWithoutAKeyIsSkipped) {
    writeProfileString(registryFile_, "HKEY_LOCAL_MACHINE", "x", "1");
    std::string before = test::readFile(registryFile_);
    EXPECT_EQ(run({}, {"2147483650,\\,x,,1,No,Yes", "2147483650,,x,,1,No,Yes"}), TCVUnInstall::kRemoved);
    EXPECT_EQ(test::readFile(registryFile_), before);
    EXPECT_EQ(view_.steps, 2);
}
