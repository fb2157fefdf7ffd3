#include "common/Settings.h"

#include "api/TextLimits.h"
#include "common/Paths.h"
#include "platform/IniFile.h"
#include "platform/Numbers.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

// Only plain digits count; anything else (a sign, letters, nothing) is -1.
std::int32_t digitsValue(const IniDocument& doc, const char* section, const char* key) {
    auto value = parseDigits(doc.get(section, key, ""));
    return value ? clampToInt32(*value) : -1;
}

// Only "no" turns a switch off.
bool yesNoValue(const IniDocument& doc, const char* section, const char* key) {
    return !equalsIgnoreCase(doc.get(section, key, ""), "no");
}

std::optional<IniDocument> loadConfig() {
    auto path = findIniFile(kConfigIni);
    if (!path) return std::nullopt;
    return IniDocument::load(*path);
}

std::unique_ptr<Settings> readConfig(const std::filesystem::path& plconfigPath) {
    auto s = std::make_unique<Settings>();
    IniDocument config = IniDocument::load(plconfigPath);
    s->tempFolder = utf8Truncate(config.get("tempfile", "location", ""), kTextLimit);
    s->apiLogFolder = utf8Truncate(config.get("apilog", "location", ""), kTextLimit);
    s->sessionLogFolder = utf8Truncate(config.get("sessionlog", "location", ""), kTextLimit);
    s->noticeInterval = digitsValue(config, "notice", "interval");
    s->apiLogDays = digitsValue(config, "apilog", "days");
    s->sessionLogDays = digitsValue(config, "sessionlog", "days");
    s->duplicationPermission = yesNoValue(config, "duplication", "permission");
    s->shutdownCompulsion = yesNoValue(config, "shutdown", "compulsion");
    s->applicationCheck = yesNoValue(config, "application", "check");
    s->nofilePermission = yesNoValue(config, "nofile", "permission");
    return s;
}

} // namespace

std::unique_ptr<Settings> loadSettings() {
    auto path = findIniFile(kConfigIni);
    if (!path) return nullptr;
    return readSettings(*path);
}

std::unique_ptr<Settings> loadConfigSettings() {
    auto path = findIniFile(kConfigIni);
    if (!path) return nullptr;
    return readConfig(*path);
}

std::unique_ptr<Settings> readSettings(const std::filesystem::path& plconfigPath) {
    auto s = readConfig(plconfigPath);
    if (auto timeoutPath = findIniFile(kTimeoutIni)) {
        IniDocument t = IniDocument::load(*timeoutPath);
        s->authTimeout = t.getInt("timeout", "auth", s->authTimeout);
        s->fileTimeout = t.getInt("timeout", "file", s->fileTimeout);
        s->reportTimeout = t.getInt("timeout", "report", s->reportTimeout);
        s->centerAuthTimeout = t.getInt("timeout", "center_auth", s->centerAuthTimeout);
        s->centerFileTimeout = t.getInt("timeout", "center_file", s->centerFileTimeout);
        s->centerReportTimeout = t.getInt("timeout", "center_report", s->centerReportTimeout);
        s->tcpTimeout = t.getInt("timeout", "tcp", s->tcpTimeout);
        s->registTimeout = t.getInt("timeout", "regist", s->registTimeout);
        s->connectTimeout = t.getInt("timeout", "connect", s->connectTimeout);
    }
    return s;
}

bool isHttpDaemon() {
    auto config = loadConfig();
    return config && equalsIgnoreCase(config->get("http", "daemon", ""), "yes");
}

bool isHttpSSL() {
    auto config = loadConfig();
    return config && equalsIgnoreCase(config->get("http", "ssl", ""), "yes");
}

int getTerminalPort() {
    auto config = loadConfig();
    if (!config) return 0;
    // A port that cannot be listened on falls back to the default instead
    // of letting the gateway bind a random one.
    auto port = parseDigits(config->get("http", "terminalport", ""));
    if (port && *port >= 1 && *port <= 65535) return static_cast<int>(*port);
    return equalsIgnoreCase(config->get("http", "ssl", ""), "yes") ? 443 : 80;
}

bool isDialogAppearance() {
    auto config = loadConfig();
    return config && !equalsIgnoreCase(config->get("dialog", "appearance", ""), "no");
}

CertificateFiles certificateFiles(const Settings& settings) {
    // Without a folder the files would land in the working folder or "/".
    if (settings.tempFolder.empty()) return {};
    return {joinPath(settings.tempFolder, "zorvantike.cert"), joinPath(settings.tempFolder, "zorvantike.key"),
            joinPath(settings.tempFolder, "zorvantike.csr")};
}

CertificateFiles configuredCertificateFiles() {
    try {
        auto settings = loadSettings();
        return settings ? certificateFiles(*settings) : CertificateFiles{};
    } catch (...) {
        return {};
    }
}

} // namespace plx
