#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "pllog/EventLog.h"
#include "tests/setup/InstalledTree.h"

using namespace plx;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;

namespace fs = std::filesystem;

namespace {

// pleventreg from the installed tree, installing under a root of the test's own.
struct Registration {
    TempDir root;
    ScopedEnv installRoot{"PLX_INSTALL_ROOT", root.path().string()};
    fs::path catalog = root / "usr/lib/systemd/catalog/korvane-plx.catalog";
    TempDir libraries;

    test::ProgramRun run(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{(test::installedTree() / "bin/pleventreg").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runCaptured(argv);
    }
    // A library file at relative in a folder of the test's own; its path.
    std::string library(const std::string& relative) const {
        fs::path path = libraries / relative;
        fs::create_directories(path.parent_path());
        test::writeFile(path, "");
        return path.string();
    }
    // The journal's own view of the compiled catalog.
    std::string listed() const {
        return test::runCaptured({"/usr/bin/journalctl", "--root=" + root.path().string(), "--list-catalog"}).out;
    }
};

std::string installedLibrary() { return (test::installedTree() / "bin/libPLlog.so").string(); }

} // namespace

TEST(Pleventreg, InstallsTheCategoryTextsAndTheJournalCompilesThem) {
    Registration reg;
    std::string library = reg.library("製品 PLX/bin/libPLlog.so");
    auto run = reg.run({library});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    std::string catalog = readFile(reg.catalog);
    EXPECT_NE(catalog.find("# EventMessageFile=" + library + "\n# TypeSupported=7\n# CategoryCount=4\n" +
                           "# CategoryMessageFile=" + library + "\n"),
              std::string::npos);
    std::string listed = reg.listed();
    for (const char* text : {"サービスプログラム内", "APIログ", "通信ログ", "プロセス情報"}) {
        EXPECT_NE(catalog.find(std::string("\nSubject: ") + text + "\n"), std::string::npos) << text;
        EXPECT_NE(listed.find(std::string(" Korvane/PLX: ") + text + "\n"), std::string::npos) << text;
    }
    // The ids the library writes its events with are the ones compiled.
    for (const EventCategory& category : kEventCategories)
        EXPECT_NE(listed.find(std::string(category.messageId) + " Korvane/PLX: " + category.text), std::string::npos);
}

TEST(Pleventreg, ARerunReplacesTheRegistration) {
    Registration reg;
    ASSERT_EQ(reg.run({reg.library("old/libPLlog.so")}).exitCode, 0);
    std::string library = reg.library("new/libPLlog.so");
    auto again = reg.run({library});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "");
    std::string catalog = readFile(reg.catalog);
    EXPECT_NE(catalog.find("# EventMessageFile=" + library + "\n"), std::string::npos);
    EXPECT_EQ(catalog.find("/old/"), std::string::npos);
    // Nothing but the one catalog is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(reg.catalog.parent_path()), {}), 1);
}

TEST(Pleventreg, TheWholeCommandLineIsTheMessageFile) {
    Registration reg;
    std::string library = reg.library("a b c.so");
    ASSERT_EQ(reg.run({(reg.libraries / "a").string(), "b", "c.so"}).exitCode, 0);
    EXPECT_NE(readFile(reg.catalog).find("# EventMessageFile=" + library + "\n"), std::string::npos);
    ASSERT_EQ(reg.run({}).exitCode, 0);
    EXPECT_NE(readFile(reg.catalog).find("# EventMessageFile=\n"), std::string::npos);
}

TEST(Pleventreg, ACatalogThatCannotBeCreatedIsUnableToCreateKey) {
    TempDir dir;
    test::writeFile(dir / "file", "");
    // Under a regular file no folder can be made, whoever asks.
    ScopedEnv installRoot("PLX_INSTALL_ROOT", (dir / "file").string());
    auto run = test::runCaptured({(test::installedTree() / "bin/pleventreg").string(), installedLibrary()});
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.out, "Unable to create key\n");
}

TEST(Pleventreg, WithoutAdministratorRightsTheKeyCannotBeCreated) {
    Registration reg;
    fs::create_directories(reg.catalog.parent_path());
    fs::permissions(reg.root.path(), fs::perms(0755));
    std::vector<std::string> argv{(test::installedTree() / "bin/pleventreg").string(), installedLibrary()};
    // Root may write anywhere: the tool then runs as nobody.
    if (::geteuid() == 0)
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    auto run = test::runCaptured(argv);
    EXPECT_EQ(run.exitCode, 255);
    EXPECT_EQ(run.out, "Unable to create key\n");
    EXPECT_TRUE(fs::is_empty(reg.catalog.parent_path()));
}

TEST(Pleventreg, ACatalogThatCannotBeWrittenOrCompiledIsUnableToAddValue) {
    {
        Registration reg;
        test::writeFile(reg.root / "var", ""); // the journal's database cannot be written
        auto run = reg.run({installedLibrary()});
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.out, "Unable to add value to key\n");
    }
    {
        Registration reg;
        auto run =
            reg.run({reg.library("plx\n-- 00000000000000000000000000000000")}); // a line break cannot be recorded
        EXPECT_EQ(run.exitCode, 255);
        EXPECT_EQ(run.out, "Unable to add value to key\n");
        EXPECT_FALSE(fs::exists(reg.catalog));
    }
}
