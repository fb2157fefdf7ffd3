#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/InstData.h"
#include "uninstaller/Texts.h"

using namespace plx;
using namespace plx::uninst;
using test::ScopedEnv;
using test::TempDir;

namespace {

class InstDataTest : public ::testing::Test {
protected:
    TCVInstData loadText(const std::string& text) {
        test::writeFile(dir_ / "app.wqi", text);
        TCVInstData data(RegistryStore(dir_ / "registry.ini"));
        data.load(dir_ / "app.wqi");
        return data;
    }
    std::string loadFailure(const std::string& text) {
        try {
            loadText(text);
        } catch (const InstDataError& e) {
            return e.what();
        }
        return "(loaded)";
    }

    TempDir dir_;
};

} // namespace

TEST_F(InstDataTest, FlagsReadYesInAnyCaseAndNothingElse) {
    struct Case {
        const char* value;
        bool flag;
    };
    const Case cases[] = {{"yes", true}, {"Yes", true}, {"YES", true},   {"yEs", true},   {"no", false},
                          {"", false},   {"1", false},  {"true", false}, {" yes", false}, {"yes ", false}};
    for (const auto& c : cases) {
        auto data = loadText(std::string("HaveReadMe=") + c.value + "\nDoReboot=" + c.value + "\n");
        EXPECT_EQ(data.header.haveReadMe, c.flag) << c.value;
        EXPECT_EQ(data.header.doReboot, c.flag) << c.value;
    }
}

TEST_F(InstDataTest, ShowInformationIsYesOnlyWhenMissing) {
    EXPECT_TRUE(loadText("Title=x\n").header.showInformation);
    EXPECT_FALSE(loadText("ShowInformation=No\n").header.showInformation);
    EXPECT_FALSE(loadText("ShowInformation=\n").header.showInformation);
    EXPECT_TRUE(loadText("showinformation=YES\n").header.showInformation);
}

TEST_F(InstDataTest, NumbersReadZeroUnlessTheyAreNumbers) {
    struct Case {
        const char* value;
        int number;
    };
    const Case cases[] = {{"", 0}, {"12", 12}, {"-3", -3}, {"+4", 4}, {"abc", 0}, {"12x", 0}, {"99999999999", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(loadText(std::string("DivSize=") + c.value + "\n").header.divSize, c.number) << c.value;
}

TEST_F(InstDataTest, InstallerTypeMustBeANumber) {
    EXPECT_EQ(loadText("InstallerType=\n").header.installerType, 0);
    EXPECT_EQ(loadText("InstallerType=2\n").header.installerType, 2);
    std::string failure = loadFailure("InstallerType=two\n");
    EXPECT_NE(failure.find(kInstallerTypeNotNumber), std::string::npos) << failure;
}

TEST_F(InstDataTest, NamesMatchInAnyCaseAndTheFirstWins) {
    auto data = loadText("title=First\r\nTITLE=Second\r\nAppCompany=A=B\r\nURL=http://x/?a=1\r\n");
    EXPECT_EQ(data.header.title, "First");
    EXPECT_EQ(data.header.appCompany, "A=B"); // the first "=" splits
    EXPECT_EQ(data.header.url, "http://x/?a=1");
    EXPECT_EQ(data.header.baseDir, "");
}

TEST_F(InstDataTest, ItemsReadTheirFieldsInOrder) {
    auto data = loadText("FileCount=2\nRegCount=1\nShortCutCount=1\nRegRefCount=1\n"
                         "File0=\"/opt/My App/a,b.so\",keep,yes,1234,YES,Yes,7,\"Font Name\",1700000000,yes\n"
                         "File1=/opt/x\n"
                         "Reg0=2147483650,\\SOFTWARE\\Korvane,Path,\"/opt/x\",1,no,yes\n"
                         "Link0=3,a,b,c,d,e\n"
                         "Val0=1,2147483650,\\SOFTWARE\\K,INSTDIR,/opt/k,\n");
    ASSERT_EQ(data.files.size(), 2u);
    const auto& f = data.files[0];
    EXPECT_EQ(f.path, "/opt/My App/a,b.so");
    EXPECT_EQ(f.text, "keep");
    EXPECT_TRUE(f.flag3);
    EXPECT_EQ(f.size, 1234);
    EXPECT_TRUE(f.selfRegistering);
    EXPECT_TRUE(f.shared);
    EXPECT_EQ(f.number7, 7);
    EXPECT_EQ(f.fontValueName, "Font Name");
    EXPECT_EQ(f.fileTime, 1700000000);
    EXPECT_TRUE(f.font);
    // Missing fields read as empty.
    EXPECT_EQ(data.files[1].path, "/opt/x");
    EXPECT_EQ(data.files[1].text, "");
    EXPECT_FALSE(data.files[1].selfRegistering);
    EXPECT_EQ(data.totalSize, 1234u);

    ASSERT_EQ(data.regs.size(), 1u);
    EXPECT_EQ(data.regs[0].rootKey, 2147483650);
    EXPECT_EQ(data.regs[0].keyPath, "\\SOFTWARE\\Korvane");
    EXPECT_EQ(data.regs[0].valueName, "Path");
    EXPECT_EQ(data.regs[0].data, "/opt/x");
    EXPECT_EQ(data.regs[0].type, 1);
    EXPECT_TRUE(data.regs[0].deleteKey);
    ASSERT_EQ(data.shortcuts.size(), 1u);
    EXPECT_EQ(data.shortcuts[0].number, 3);
    EXPECT_EQ(data.shortcuts[0].text6, "e");
    ASSERT_EQ(data.regRefs.size(), 1u);
    EXPECT_EQ(data.regRefs[0].valueName, "INSTDIR");
}

TEST_F(InstDataTest, AMalformedItemKeepsTheFieldsReadBeforeTheFault) {
    auto data = loadText("FileCount=2\nFile0=/opt/a,,yes,lots,yes,yes\nFile1=/opt/b,,no,5\n");
    ASSERT_EQ(data.files.size(), 2u);
    EXPECT_EQ(data.files[0].path, "/opt/a");
    EXPECT_TRUE(data.files[0].flag3);
    EXPECT_EQ(data.files[0].size, 0);
    EXPECT_FALSE(data.files[0].selfRegistering); // after the fault: not read
    EXPECT_FALSE(data.files[0].shared);
    EXPECT_EQ(data.files[1].size, 5); // the reader goes on with the next item
}

TEST_F(InstDataTest, ItemCountsAreBoundedByTheFileLines) {
    auto data = loadText("FileCount=1000000000\nRegCount=2000000000\nFile0=/opt/a\nFile3=/opt/d\n");
    EXPECT_EQ(data.header.fileCount, 1000000000);
    EXPECT_LE(data.files.size(), 4u);
    EXPECT_LE(data.regs.size(), 4u);
    EXPECT_EQ(data.files[0].path, "/opt/a");
    EXPECT_EQ(data.files[3].path, "/opt/d");
    EXPECT_TRUE(loadText("FileCount=-5\n").files.empty());
}

TEST_F(InstDataTest, PlatformMacrosComeFirstInTheirOrder) {
    ScopedEnv tmp("TMPDIR", "/var/tmp/x");
    auto data = loadText("Title=x\n");
    const char* names[] = {":WINDIR:",      ":WINSYSDIR:", ":FONTS:",    ":PROGRAMFILES:",
                           ":COMMONFILES:", ":TEMP:",      ":USERNAME:", ":USERCOMPANY:"};
    const char* values[] = {"/etc", "/usr/local/lib", "/usr/local/share/fonts", "/opt", "/opt/common", "/var/tmp/x", "",
                            ""};
    ASSERT_EQ(data.macros.entries().size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(data.macros.entries()[i].name, names[i]);
        EXPECT_EQ(data.macros.entries()[i].value, values[i]);
    }
}

TEST_F(InstDataTest, MacrosExpandInAnyCaseOnceEachInTableOrder) {
    // B before A: A's value, expanded when A is added, already has B's value.
    auto early = loadText("RegRefCount=2\nVal0=1,0,,B,/b,\nVal1=1,0,,A,:b:/x,\n");
    EXPECT_EQ(early.expand(":A:/y"), "/b/x/y");
    // A before B: A's value keeps ":B:", which the later macro B expands in a text.
    auto late = loadText("RegRefCount=2\nVal0=1,0,,A,:B:/x,\nVal1=1,0,,B,/b,\n");
    EXPECT_EQ(late.macros.entries().back().name, ":B:");
    EXPECT_EQ(late.expand(":a:/y"), "/b/x/y");
    // A macro whose value names itself is applied once.
    auto self = loadText("RegRefCount=1\nVal0=1,0,,A,[:A:],\n");
    EXPECT_EQ(self.expand(":A:"), "[:A:]");
    // Unquoted blanks separate fields as commas do.
    EXPECT_EQ(loadText("RegRefCount=1\nVal0=1 0 \"\" A /a\n").expand(":A:"), "/a");

    struct Case {
        const char* text;
        const char* expanded;
    };
    const Case cases[] = {
        {":PROGRAMFILES:/plx/bin/plserv", "/opt/plx/bin/plserv"},
        {":programfiles:/plx", "/opt/plx"},
        {":ProgramFiles:/a:PROGRAMFILES:", "/opt/a/opt"},
        {":FONTS:/ipag.ttf", "/usr/local/share/fonts/ipag.ttf"},
        {":WINSYSDIR:/libx.so", "/usr/local/lib/libx.so"},
        {":COMMONFILES:/k", "/opt/common/k"},
        {"/no/macro", "/no/macro"},
        {":UNKNOWN:/x", ":UNKNOWN:/x"},
        {"a:USERNAME:b", "ab"},
    };
    auto data = loadText("Title=x\n");
    for (const auto& c : cases) EXPECT_EQ(data.expand(c.text), c.expanded) << c.text;
}

TEST_F(InstDataTest, ValItemsReadTheRegistryStore) {
    writeProfileString(dir_ / "registry.ini", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "InstallDir", "/srv/plx");
    writeProfileString(dir_ / "registry.ini", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvane\\PLX", "@", "/srv/default");
    auto data = loadText("RegRefCount=4\n"
                         "Val0=0,2147483650,\\SOFTWARE\\Korvane\\PLX,InstallDir,/opt/plx,\n"
                         "Val1=0,-2147483646,SOFTWARE\\Korvane\\PLX\\,,/x,\n"
                         "Val2=0,2147483650,\\SOFTWARE\\Nothing,Missing,/fallback,\n"
                         "Val3=5,2147483650,\\SOFTWARE\\Korvane\\PLX,InstallDir,/given,\n");
    EXPECT_EQ(data.regRefs[0].value, "/srv/plx");
    EXPECT_EQ(data.expand(":InstallDir:/bin"), "/srv/plx/bin");
    EXPECT_EQ(data.regRefs[1].value, "/srv/default"); // the default value, root given as a negative number
    EXPECT_EQ(data.regRefs[2].value, "/fallback");    // a failed read without a message keeps the default
    EXPECT_EQ(data.regRefs[3].value, "/given");       // source not 0: the registry is not read
}

TEST_F(InstDataTest, AFailedReadWithAMessageStopsTheLoadWithIt) {
    EXPECT_EQ(loadFailure("RegRefCount=1\nVal0=0,2147483650,\\SOFTWARE\\Nothing,Dir,/x,\"製品が見つかりません。\"\n"),
              "製品が見つかりません。");
    EXPECT_EQ(loadFailure("RegRefCount=1\nVal0=0,12345,\\SOFTWARE\\K,Dir,/x,\"no root\"\n"), "no root");
}

TEST_F(InstDataTest, AFileThatCannotBeReadFailsTheLoad) {
    TCVInstData data(RegistryStore(dir_ / "registry.ini"));
    try {
        data.load(dir_ / "missing.wqi");
        FAIL() << "loaded";
    } catch (const InstDataError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.rfind("インストール情報ファイルを読み込めません\r", 0), 0u) << text;
        EXPECT_NE(text.find("missing.wqi"), std::string::npos);
    }
    EXPECT_THROW(data.load(dir_.path()), InstDataError); // a folder
}

TEST_F(InstDataTest, RootRefusesAFileOthersCanWrite) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root refuses";
    test::writeFile(dir_ / "app.wqi", "Title=x\n");
    TCVInstData data(RegistryStore(dir_ / "registry.ini"));
    ::chmod((dir_ / "app.wqi").c_str(), 0666);
    EXPECT_THROW(data.load(dir_ / "app.wqi"), InstDataError);
    ::chmod((dir_ / "app.wqi").c_str(), 0644);
    ASSERT_EQ(::chown((dir_ / "app.wqi").c_str(), 65534, 0), 0);
    try {
        data.load(dir_ / "app.wqi");
        FAIL() << "loaded a file another user owns";
    } catch (const InstDataError& e) {
        EXPECT_NE(std::string(e.what()).find("他のユーザーが書き込めるファイルです"), std::string::npos);
    }
    ASSERT_EQ(::chown((dir_ / "app.wqi").c_str(), 0, 0), 0);
    ::chmod((dir_ / "app.wqi").c_str(), 0664); // root's group may write
    EXPECT_NO_THROW(data.load(dir_ / "app.wqi"));
}

TEST_F(InstDataTest, OnlyAFileWithTitleBaseDirAndNumbersIsAnInstallInfoFile) {
    EXPECT_TRUE(loadText("Ver=1\nTitle=t\nBaseDir=/opt/plx\nFileCount=0\n").isInstallInfo());
    EXPECT_TRUE(loadText("Title=t\nBaseDir=/opt/plx\nFileCount=2\n").isInstallInfo()); // Ver empty reads 0
    for (const char* broken : {"Ver=1\nBaseDir=/opt/plx\nFileCount=0\n", "Ver=1\nTitle=t\nFileCount=0\n",
                               "Ver=1\nTitle=t\nBaseDir=/opt/plx\n", "Ver=1\nTitle=t\nBaseDir=/opt/plx\nFileCount=\n",
                               "Ver=1\nTitle=t\nBaseDir=/opt/plx\nFileCount=many\n",
                               "Ver=one\nTitle=t\nBaseDir=/opt/plx\nFileCount=0\n", "just some notes\n"})
        EXPECT_FALSE(loadText(broken).isInstallInfo()) << broken;
}
