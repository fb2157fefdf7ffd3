#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "client/ClientIni.h"
#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/TestSupport.h"

using namespace plx;
namespace fs = std::filesystem;

namespace {

FileRec kindOf(std::string fileType) {
    FileRec rec;
    rec.FileType = std::move(fileType);
    return rec;
}

// A value the old 255-byte profile buffer would have cut, and one that a
// byte cut would have split inside a character.
const std::string kLongValue = "/srv/" + std::string(295, 'x');
const std::string kJapaneseFolder = "/srv/ログ/" + std::string(90, 'a') + "通信ログ保存先フォルダ";

} // namespace

TEST(ClientIni, MissingFilesReadAsEmpty) {
    test::ScopedHome home;
    EXPECT_EQ(readLogSettings(), LogSettings{});
    DataKindTable kinds({kindOf("FT01")});
    kinds[0].app = {"stale", "stale"};
    readAppIni(kinds);
    EXPECT_EQ(kinds[0].app, AppIniPair{});
}

TEST(ClientIni, LogSettingsRoundTripWholeAndKeepTheRestOfTheFile) {
    test::ScopedHome home;
    const std::string original = "; service settings\n"
                                 "[http]\ndaemon=yes\n\n"
                                 "[apilog]\nlocation=/old/api\nretry=3\n\n"
                                 "[sessionlog]\ndays=7\n";
    test::writeFile(home / "plconfig.ini", original);
    EXPECT_EQ(readLogSettings(), (LogSettings{"/old/api", "", "", "7"}));

    LogSettings settings{kLongValue, "30", kJapaneseFolder, "007"};
    writeLogSettings(settings);
    EXPECT_EQ(readLogSettings(), settings);

    fs::path file = home / "plconfig.ini";
    EXPECT_EQ(getProfileString(file, "http", "daemon"), "yes");
    EXPECT_EQ(getProfileString(file, "apilog", "retry"), "3");
    EXPECT_EQ(getProfileString(file, "sessionlog", "location"), kJapaneseFolder);
    std::string text = test::readFile(file);
    EXPECT_TRUE(text.starts_with("; service settings\n")) << text;
    EXPECT_NE(text.find("location=" + kLongValue + "\n"), std::string::npos);
}

TEST(ClientIni, AppIniPairsFollowTheTableAndLeaveOtherSectionsAlone) {
    test::ScopedHome home;
    test::writeFile(home / "plxapp.ini", "[OLD1]\nclfilename=/data/old.dat\nsendrecv=recv\n");

    DataKindTable kinds({kindOf("FT01"), kindOf("FT02"), kindOf("FT03")});
    kinds[0].app = {kLongValue, "send"};
    kinds[1].app = {kJapaneseFolder + "/受注.dat", "recv"};
    writeAppIni(kinds);

    DataKindTable readBack({kindOf("ft01"), kindOf("FT02"), kindOf("FT03"), kindOf("OLD1"), kindOf("NONE")});
    readAppIni(readBack);
    EXPECT_EQ(readBack[0].app, kinds[0].app); // section names ignore case, as the profile functions do
    EXPECT_EQ(readBack[1].app, kinds[1].app);
    EXPECT_EQ(readBack[2].app, AppIniPair{});
    EXPECT_EQ(readBack[3].app, (AppIniPair{"/data/old.dat", "recv"}));
    EXPECT_EQ(readBack[4].app, AppIniPair{});

    // A kind that is no longer registered keeps its section.
    DataKindTable fewer({kindOf("FT01")});
    fewer[0].app = {"/data/new.dat", "recv"};
    writeAppIni(fewer);
    fs::path file = home / "plxapp.ini";
    EXPECT_EQ(getProfileString(file, "FT01", "clfilename"), "/data/new.dat");
    EXPECT_EQ(getProfileString(file, "FT02", "sendrecv"), "recv");
    EXPECT_EQ(getProfileString(file, "OLD1", "clfilename"), "/data/old.dat");
}

TEST(ClientIni, EmptyTableTouchesNothing) {
    test::ScopedHome home;
    DataKindTable none;
    readAppIni(none);
    writeAppIni(none);
    EXPECT_FALSE(fs::exists(home / "plxapp.ini"));
}

TEST(ClientIni, FailedWritesAreReportedAndChangeNothing) {
    test::ScopedHome home;
    const std::string original = "[apilog]\nlocation=/logs/api\n";
    test::writeFile(home / "plconfig.ini", original);

    // A value the file cannot hold.
    try {
        writeLogSettings({"/logs/api\n[http]", "", "", ""});
        FAIL() << "no error";
    } catch (const ClientIniError& e) {
        EXPECT_EQ(e.code(), std::errc::invalid_argument);
        EXPECT_EQ(e.file(), home / "plconfig.ini");
    }
    EXPECT_EQ(test::readFile(home / "plconfig.ini"), original);

    // One bad section name fails the whole write.
    DataKindTable kinds({kindOf("FT01"), kindOf("")});
    kinds[0].app = {"/data/a.dat", "send"};
    EXPECT_THROW(writeAppIni(kinds), ClientIniError);
    EXPECT_FALSE(fs::exists(home / "plxapp.ini"));

    // A file that cannot be read back cannot be rewritten.
    fs::create_directory(home / "plxapp.ini");
    kinds[1].file.FileType = "FT02";
    try {
        writeAppIni(kinds);
        FAIL() << "no error";
    } catch (const ClientIniError& e) {
        EXPECT_EQ(e.code(), std::errc::is_a_directory);
    }
}

TEST(ClientIni, DeniedWriteIsReported) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    test::ScopedHome home;
    test::writeFile(home / "plconfig.ini", "[apilog]\nlocation=/logs/api\n");
    fs::permissions(home.path(), fs::perms::owner_write, fs::perm_options::remove);
    try {
        writeLogSettings({"/logs/new", "1", "/logs/session", "1"});
        ADD_FAILURE() << "no error";
    } catch (const ClientIniError& e) {
        EXPECT_EQ(e.code(), std::errc::permission_denied);
    }
    fs::permissions(home.path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(readLogSettings().apiLogLocation, "/logs/api");
}
