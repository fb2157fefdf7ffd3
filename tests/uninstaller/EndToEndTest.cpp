#include <algorithm>
#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/uninstaller/ProgramRun.h"
#include "tests/uninstaller/UninstallFixture.h"

using namespace plx;
using test::ScopedEnv;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

// The paths the information file lists, in order.
std::vector<std::string> listedPaths(const std::string& infoText) {
    std::vector<std::string> paths;
    std::size_t at = 0;
    while ((at = infoText.find("\nFile", at)) != std::string::npos) {
        std::size_t start = infoText.find("=\"", at) + 2;
        std::size_t end = infoText.find("\",", start);
        paths.push_back(infoText.substr(start, end - start));
        at = end;
    }
    return paths;
}

std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!it->is_directory()) files.push_back(it->path().string());
    return files;
}

// The build installed into a prefix, with the registration's system files,
// the temporary and runtime folders and the registry in a scratch folder.
class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() { fs::create_directories(dir_ / "tmp"); }
    test::ProgramRun install() {
        return test::runCaptured({PLX_CMAKE_COMMAND, "--install", PLX_BUILD_DIR, "--prefix", prefix_.string()});
    }
    test::ProgramRun uninstall() { return test::runToTheEnd({(prefix_ / "bin/CVUninst").string(), info_.string()}); }

    TempDir dir_;
    fs::path prefix_ = dir_ / "prefix";
    fs::path info_ = prefix_ / "bin/CVUninst.wqi";
    ScopedEnv installRoot_{"PLX_INSTALL_ROOT", (dir_ / "root").string()};
    ScopedEnv registry_{"PLX_REGISTRY", (dir_ / "registry.ini").string()};
    ScopedEnv tmp_{"TMPDIR", (dir_ / "tmp").string()};
    ScopedEnv runtime_{"PLX_RUNTIME_DIR", (dir_ / "run").string()};
    ScopedEnv home_{"PLX_HOME", ""};
    ScopedEnv script_{"PLX_UNINST_SCRIPT", "ok"};
    ScopedEnv destdir_{"DESTDIR", ""};
};

} // namespace

// The build installed into a prefix, the service registered there, and the
// installation removed by the uninstaller the install step describes.
TEST_F(EndToEnd, AnInstallationIsRemovedToTheLastFile) {
    auto install = this->install();
    ASSERT_EQ(install.exitCode, 0) << install.err;
    ASSERT_TRUE(fs::exists(info_));
    std::string infoText = test::readFile(info_);
    EXPECT_NE(infoText.find("File0="), std::string::npos);
    EXPECT_NE(infoText.find("BaseDir=" + prefix_.string() + "\n"), std::string::npos);
    EXPECT_NE(infoText.find("\"" + (prefix_ / "bin/CVUninst").string() + "\""), std::string::npos);
    std::vector<std::string> installed = filesUnder(prefix_);
    for (const auto& file : installed)
        EXPECT_TRUE(file == info_.string() || infoText.find("\"" + file + "\"") != std::string::npos) << file;

    // Installed again over itself (settings already there are left alone),
    // the file still lists everything.
    auto again = this->install();
    ASSERT_EQ(again.exitCode, 0) << again.err;
    auto before = listedPaths(infoText);
    auto after = listedPaths(test::readFile(info_));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);

    bool service = fs::exists(prefix_ / "bin/plserv");
    if (service) {
        auto reg = test::runCaptured({(prefix_ / "bin/plserv").string(), "-RegServer"});
        ASSERT_EQ(reg.exitCode, 0) << reg.err;
        EXPECT_FALSE(filesUnder(dir_ / "root").empty());
        EXPECT_FALSE(getProfileSectionNames(dir_ / "registry.ini").empty());
        EXPECT_NE(infoText.find("\"" + (prefix_ / "bin/plserv").string() + "\",,No,"), std::string::npos);
    }

    // The event source registered as the README says: its catalog goes too.
    fs::path catalog = dir_ / "root/usr/lib/systemd/catalog/korvane-plx.catalog";
    auto source = test::runCaptured({(prefix_ / "bin/pleventreg").string(), (prefix_ / "bin/libPLlog.so").string()});
    ASSERT_EQ(source.exitCode, 0) << source.out << source.err;
    ASSERT_TRUE(fs::exists(catalog));

    auto removal = uninstall();
    EXPECT_EQ(removal.exitCode, 0) << removal.err;
    EXPECT_FALSE(fs::exists(catalog));
    EXPECT_FALSE(fs::exists(prefix_)) << "left: " << ::testing::PrintToString(filesUnder(prefix_)) << " of "
                                      << ::testing::PrintToString(installed);
    EXPECT_TRUE(filesUnder(dir_ / "tmp").empty()) << ::testing::PrintToString(filesUnder(dir_ / "tmp"));
    if (service) {
        // The journal's compiled catalogs stay (with no catalog left in this
        // scratch root, the journal leaves them as they were).
        auto left = filesUnder(dir_ / "root");
        std::erase(left, (dir_ / "root/var/lib/systemd/catalog/database").string());
        EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
        EXPECT_TRUE(getProfileSectionNames(dir_ / "registry.ini").empty());
    }
}

// Never registered, with the registry at its default place in bin/: the
// service's unregistration leaves no store behind to keep the prefix.
TEST_F(EndToEnd, ACleanInstallWithTheDefaultRegistryGoesWhole) {
    ScopedEnv registry("PLX_REGISTRY", "");
    auto install = this->install();
    ASSERT_EQ(install.exitCode, 0) << install.err;
    auto removal = uninstall();
    EXPECT_EQ(removal.exitCode, 0) << removal.err;
    EXPECT_FALSE(fs::exists(prefix_)) << ::testing::PrintToString(filesUnder(prefix_));
}
