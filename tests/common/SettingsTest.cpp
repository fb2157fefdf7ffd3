#include "common/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/CenterUrl.h"
#include "common/Paths.h"
#include "common/TermInfo.h"
#include "tests/TestSupport.h"

using namespace plx;
using test::ScopedHome;
using test::writeFile;

TEST(Settings, MissingConfigGivesNothing) {
    ScopedHome home;
    EXPECT_EQ(loadSettings(), nullptr);
    EXPECT_FALSE(isHttpDaemon());
    EXPECT_FALSE(isHttpSSL());
    EXPECT_EQ(getTerminalPort(), 0);
    EXPECT_FALSE(isDialogAppearance());
    EXPECT_EQ(configuredCertificateFiles().cert, "");
}

TEST(Settings, DefaultsStandWithoutKeysOrTimeoutFile) {
    ScopedHome home;
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=/var/tmp/plx\n");
    auto s = loadSettings();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->tempFolder, "/var/tmp/plx");
    EXPECT_EQ(s->apiLogFolder, "");
    EXPECT_EQ(s->noticeInterval, -1);
    EXPECT_EQ(s->apiLogDays, -1);
    EXPECT_TRUE(s->duplicationPermission && s->shutdownCompulsion && s->applicationCheck && s->nofilePermission);
    EXPECT_EQ(s->authTimeout, 30);
    EXPECT_EQ(s->fileTimeout, 300);
    EXPECT_EQ(s->reportTimeout, 30);
    EXPECT_EQ(s->centerAuthTimeout, 30);
    EXPECT_EQ(s->centerFileTimeout, 300);
    EXPECT_EQ(s->centerReportTimeout, 300);
    EXPECT_EQ(s->tcpTimeout, 180);
    EXPECT_EQ(s->registTimeout, 120);
    EXPECT_EQ(s->connectTimeout, 30);
    CertificateFiles files = configuredCertificateFiles();
    EXPECT_EQ(files.cert, "/var/tmp/plx/zorvantike.cert");
    EXPECT_EQ(files.key, "/var/tmp/plx/zorvantike.key");
    EXPECT_EQ(files.csr, "/var/tmp/plx/zorvantike.csr");
}

TEST(Settings, DigitsAndSwitchRules) {
    ScopedHome home;
    auto interval = [&](const std::string& value) {
        writeFile(home / "plconfig.ini", "[notice]\ninterval=" + value + "\n");
        return loadSettings()->noticeInterval;
    };
    EXPECT_EQ(interval("250"), 250);
    EXPECT_EQ(interval("-5"), -1);
    EXPECT_EQ(interval("250x"), -1);
    EXPECT_EQ(interval(""), -1);
    EXPECT_EQ(interval("+5"), -1);
    EXPECT_EQ(interval("99999999999"), 2147483647); // no wrap-around

    auto duplication = [&](const std::string& line) {
        writeFile(home / "plconfig.ini", "[duplication]\n" + line + "\n");
        return loadSettings()->duplicationPermission;
    };
    EXPECT_FALSE(duplication("permission=No"));
    EXPECT_FALSE(duplication("permission=NO"));
    EXPECT_TRUE(duplication("permission=yes"));
    EXPECT_TRUE(duplication("permission=nope"));
    EXPECT_TRUE(duplication(""));
}

TEST(Settings, TimeoutsUseTheIntegerRule) {
    ScopedHome home;
    writeFile(home / "plconfig.ini", "[tempfile]\nlocation=/tmp\n");
    writeFile(home / "pltimeout.ini", "[timeout]\ntcp=0\nauth=abc\nfile=-3\nconnect=45\nregist=\n");
    auto s = loadSettings();
    EXPECT_EQ(s->tcpTimeout, 0);
    EXPECT_EQ(s->authTimeout, 0);
    EXPECT_EQ(s->fileTimeout, 0);
    EXPECT_EQ(s->connectTimeout, 45);
    EXPECT_EQ(s->registTimeout, 120);
    EXPECT_EQ(s->reportTimeout, 30);
}

TEST(Settings, ChangesShowAtTheNextRead) {
    ScopedHome home;
    writeFile(home / "plconfig.ini", "[http]\ndaemon=yes\n");
    EXPECT_TRUE(isHttpDaemon());
    writeFile(home / "plconfig.ini", "[http]\ndaemon=no\n");
    EXPECT_FALSE(isHttpDaemon());
}

TEST(Settings, TerminalPortAndDialogs) {
    ScopedHome home;
    auto port = [&](const std::string& body) {
        writeFile(home / "plconfig.ini", body);
        return getTerminalPort();
    };
    EXPECT_EQ(port("[http]\nterminalport=8443\n"), 8443);
    EXPECT_EQ(port("[http]\nssl=YES\nterminalport=70000\n"), 443);
    EXPECT_EQ(port("[http]\nterminalport=70000\n"), 80);
    EXPECT_EQ(port("[http]\nterminalport=abc\n"), 80);
    EXPECT_EQ(port("[http]\nterminalport=0\n"), 80);
    EXPECT_EQ(port("[http]\nssl=yes\n"), 443);

    writeFile(home / "plconfig.ini", "[dialog]\nappearance=No\n");
    EXPECT_FALSE(isDialogAppearance());
    writeFile(home / "plconfig.ini", "[dialog]\nappearance=maybe\n");
    EXPECT_TRUE(isDialogAppearance());
    writeFile(home / "plconfig.ini", "[other]\n");
    EXPECT_TRUE(isDialogAppearance());
}

TEST(CenterUrl, SchemeHostAndPort) {
    struct Case {
        const char* url;
        bool https;
        const char* host;
        int port;
    } cases[] = {
        {"https://center.example:8443/soap", true, "CENTER.EXAMPLE", 8443},
        {"http://center.example/soap", false, "CENTER.EXAMPLE", 80},
        {"HTTPS://center.example", true, "CENTER.EXAMPLE", 443},
        {"hTtPs://h:abc/", true, "H", 443},
        {"http://h:70000/", false, "H", 80},
        {"http://h/https/x", false, "H", 80},
        {"httpgw01", false, "HTTPGW01", 80},
        {"gw.example:8080", false, "GW.EXAMPLE", 8080},
        {"http://[::1]:9000/x", false, "[::1]", 9000},
        {"", false, "", 80},
    };
    for (const auto& c : cases) {
        CenterUrl u = parseCenterUrl(c.url);
        EXPECT_EQ(u.https, c.https) << c.url;
        EXPECT_EQ(u.host, c.host) << c.url;
        EXPECT_EQ(u.port, c.port) << c.url;
    }
}

TEST(TermInfo, CenterAndProxyReaders) {
    ScopedHome home;
    EXPECT_FALSE(readCenterRoute());
    EXPECT_FALSE(isSSLUsed(readCenterRoute()));
    CenterRoute none;
    EXPECT_FALSE(none.https());
    EXPECT_EQ(none.center.host, "");
    EXPECT_EQ(none.center.port, 80);
    EXPECT_TRUE(none.keepAlive);

    writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=HTTPS://center.example/\n");
    CenterRoute route = readCenterRoute().value();
    EXPECT_TRUE(route.https());
    EXPECT_TRUE(isSSLUsed(route));
    EXPECT_EQ(route.center.host, "CENTER.EXAMPLE");
    EXPECT_EQ(route.center.port, 443);
    EXPECT_EQ(route.connectHost(), "CENTER.EXAMPLE");

    // Plain center: TLS only when the gateway uses it.
    writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=http://center.example/\n");
    EXPECT_FALSE(isSSLUsed(readCenterRoute()));
    writeFile(home / "plconfig.ini", "[http]\nssl=yes\n");
    EXPECT_TRUE(isSSLUsed(readCenterRoute()));

    writeFile(home / "plterm.ini", "[terminfo]\nproxyserver=proxy.example:3128\nproxyuser=\nproxypassword=pw\n");
    EXPECT_FALSE(readCenterRoute()->proxy);
    EXPECT_TRUE(readCenterRoute()->keepAlive);
    writeFile(home / "plterm.ini", "[terminfo]\nproxyserver=proxy.example\nproxyuser=u\nproxypassword=pw\n");
    EXPECT_FALSE(readCenterRoute()->proxy);
    writeFile(home / "plterm.ini", "[terminfo]\nproxyserver=proxy.example:3128\nproxyuser=u\nproxypassword=p:w\n");
    route = readCenterRoute().value();
    ASSERT_TRUE(route.proxy);
    EXPECT_EQ(route.proxy->host, "proxy.example");
    EXPECT_EQ(route.proxy->port, 3128);
    EXPECT_EQ(route.proxy->user, "u");
    EXPECT_EQ(route.proxy->password, "p:w");
    EXPECT_EQ(route.connectHost(), "proxy.example");
    EXPECT_EQ(route.connectPort(), 3128);
    EXPECT_FALSE(route.keepAlive);
    writeFile(home / "plterm.ini",
              "[terminfo]\nproxyserver=proxy.example:3128\nproxyuser=u\nproxypassword=pw\nproxykeepalive=Yes\n");
    EXPECT_TRUE(readCenterRoute()->keepAlive);
}

TEST(Paths, FoldersAndJoins) {
    ScopedHome home;
    EXPECT_EQ(getModuleFolder(), home.path().string());
    EXPECT_FALSE(findIniFile("plconfig.ini"));
    std::filesystem::create_directory(home / "plconfig.ini.d");
    EXPECT_FALSE(findIniFile("plconfig.ini.d"));
    writeFile(home / "plconfig.ini", "");
    EXPECT_EQ(findIniFile("plconfig.ini"), home / "plconfig.ini");

    EXPECT_TRUE(pathExists(home / "plconfig.ini", false));
    EXPECT_FALSE(pathExists(home.path(), false));
    EXPECT_TRUE(pathExists(home.path(), true));
    EXPECT_FALSE(pathExists(home / "plconfig.ini", true));
    EXPECT_FALSE(pathExists(home / "missing", true));
    auto readOnly = home / "ro";
    std::filesystem::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    EXPECT_FALSE(pathExists(readOnly, true));

    EXPECT_TRUE(isPlainFileName("受信.dat"));
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\nb", "\xFF.dat"})
        EXPECT_FALSE(isPlainFileName(bad)) << bad;
    EXPECT_TRUE(isPlainFileName(std::string(64, 'n')));
    EXPECT_FALSE(isPlainFileName(std::string(65, 'n')));

    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
}
