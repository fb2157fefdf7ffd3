#include <gtest/gtest.h>

#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/FolderGuard.h"

using namespace plx;
using namespace plx::uninst;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

TEST(FolderGuard, SystemHomeAndMacroFoldersAreProtected) {
    TempDir home;
    ScopedEnv homeEnv("HOME", home.path().string());
    FolderGuard guard({"/usr/local/share/fonts", "/srv/macro/", "", "relative/x"});
    struct Case {
        std::string folder;
        bool isProtected;
    };
    const Case cases[] = {
        {"/", true},
        {"/opt", true},
        {"/srv", true},
        {"/usr/local", true},
        {"/usr/local/share/fonts", true},
        {"/usr/share/applications", true},
        {"/var/lib", true},
        {"/srv/macro", true},
        {"/srv/macro/sub", false},
        {"/opt/plx", false}, // the installation's own folder goes when empty
        {"/opt/plx/bin", false},
        {"/usr/local/share/fonts/plx", false},
        {home.path().string(), true},
        {(home / "Desktop").string(), true},
        {(home / "デスクトップ").string(), true},
        {(home / ".local/share/applications").string(), true},
        {(home / "Desktop/plx").string(), false},
        {"/opt/plx/../plx/", false},
        {"/usr/local/./share/", true},
    };
    for (const auto& c : cases) EXPECT_EQ(guard.isProtected(c.folder), c.isProtected) << c.folder;
}

TEST(FolderGuard, TheWalkKeepsCaseAndStopsAfterTheBase) {
    TempDir root;
    fs::create_directories(root / "inst/Data/Sub");
    fs::create_directories(root / "inst/data");
    FolderGuard guard({});
    std::vector<std::string> base{(root / "inst").string()};
    guard.removeEmptyParents(root / "inst/Data/Sub/file.txt", base);
    EXPECT_FALSE(fs::exists(root / "inst/Data"));
    EXPECT_TRUE(fs::exists(root / "inst/data")); // never the lower-cased name
    EXPECT_TRUE(fs::exists(root / "inst"));      // not empty: the walk stops

    fs::remove(root / "inst/data");
    fs::create_directories(root / "inst/bin");
    guard.removeEmptyParents(root / "inst/bin/plserv", base);
    EXPECT_FALSE(fs::exists(root / "inst"));
    EXPECT_TRUE(fs::exists(root.path())); // above the base: never
}

TEST(FolderGuard, TheWalkStopsAtAProtectedFolder) {
    TempDir root;
    fs::create_directories(root / "macro/plx/fonts");
    FolderGuard guard({(root / "macro").string()});
    guard.removeEmptyParents(root / "macro/plx/fonts/a.ttf", {(root / "macro").string()});
    EXPECT_FALSE(fs::exists(root / "macro/plx"));
    EXPECT_TRUE(fs::exists(root / "macro")); // empty, but a macro folder

    fs::create_directories(root / "macro/x");
    EXPECT_FALSE(guard.removeIfEmpty(root / "macro"));
    EXPECT_TRUE(guard.removeIfEmpty(root / "macro/x"));
}
