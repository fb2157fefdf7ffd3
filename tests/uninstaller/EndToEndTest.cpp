#include <algorithm>
#include <gtest/gtest.h>

#include "platform/IniFile.h"
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

} // namespace

// The build installed into a prefix, the service registered there, and the
// installation removed by the uninstaller the install step describes.
TEST(EndToEnd, AnInstallationIsRemovedToTheLastFile) {
    TempDir dir;
    fs::path prefix = dir / "prefix";
    fs::create_directories(dir / "tmp");
    ScopedEnv installRoot("PLX_INSTALL_ROOT", (dir / "root").string());
    ScopedEnv registry("PLX_REGISTRY", (dir / "registry.ini").string());
    ScopedEnv tmp("TMPDIR", (dir / "tmp").string());
    ScopedEnv runtime("PLX_RUNTIME_DIR", (dir / "run").string());
    ScopedEnv home("PLX_HOME", "");
    ScopedEnv script("PLX_UNINST_SCRIPT", "ok");
    ScopedEnv destdir("DESTDIR", "");

    auto install = test::runCaptured({PLX_CMAKE_COMMAND, "--install", PLX_BUILD_DIR, "--prefix", prefix.string()});
    ASSERT_EQ(install.exitCode, 0) << install.err;
    fs::path info = prefix / "bin/CVUninst.wqi";
    ASSERT_TRUE(fs::exists(info));
    std::string infoText = test::readFile(info);
    EXPECT_NE(infoText.find("File0="), std::string::npos);
    EXPECT_NE(infoText.find("BaseDir=" + prefix.string() + "\n"), std::string::npos);
    EXPECT_NE(infoText.find("\"" + (prefix / "bin/CVUninst").string() + "\""), std::string::npos);
    std::vector<std::string> installed = filesUnder(prefix);
    for (const auto& file : installed)
        EXPECT_TRUE(file == info.string() || infoText.find("\"" + file + "\"") != std::string::npos) << file;

    // Installed again over itself (settings already there are left alone),
    // the file still lists everything.
    auto again = test::runCaptured({PLX_CMAKE_COMMAND, "--install", PLX_BUILD_DIR, "--prefix", prefix.string()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    auto before = listedPaths(infoText);
    auto after = listedPaths(test::readFile(info));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);

    bool service = fs::exists(prefix / "bin/plserv");
    if (service) {
        auto reg = test::runCaptured({(prefix / "bin/plserv").string(), "-RegServer"});
        ASSERT_EQ(reg.exitCode, 0) << reg.err;
        EXPECT_FALSE(filesUnder(dir / "root").empty());
        EXPECT_FALSE(getProfileSectionNames(dir / "registry.ini").empty());
        EXPECT_NE(infoText.find("\"" + (prefix / "bin/plserv").string() + "\",,No,"), std::string::npos);
    }

    auto removal = test::runToTheEnd({(prefix / "bin/CVUninst").string(), info.string()});
    EXPECT_EQ(removal.exitCode, 0) << removal.err;
    EXPECT_FALSE(fs::exists(prefix)) << "left: " << ::testing::PrintToString(filesUnder(prefix)) << " of "
                                     << ::testing::PrintToString(installed);
    EXPECT_TRUE(filesUnder(dir / "tmp").empty()) << ::testing::PrintToString(filesUnder(dir / "tmp"));
    if (service) {
        EXPECT_TRUE(filesUnder(dir / "root").empty()) << ::testing::PrintToString(filesUnder(dir / "root"));
        EXPECT_TRUE(getProfileSectionNames(dir / "registry.ini").empty());
    }
}
