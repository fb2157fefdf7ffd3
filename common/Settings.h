#pragma once
// The service's configuration: plconfig.ini and pltimeout.ini, read afresh
// for every caller.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace plx {

struct Settings {
    std::string tempFolder;           // tempfile / location
    std::string apiLogFolder;         // apilog / location
    std::string sessionLogFolder;     // sessionlog / location
    std::int32_t noticeInterval = -1; // notice / interval, ms
    std::int32_t apiLogDays = -1;     // apilog / days
    std::int32_t sessionLogDays = -1; // sessionlog / days
    bool duplicationPermission = true;
    bool shutdownCompulsion = true;
    bool applicationCheck = true;
    bool nofilePermission = true;
    // pltimeout.ini, seconds
    std::int32_t authTimeout = 30;
    std::int32_t fileTimeout = 300;
    std::int32_t reportTimeout = 30;
    std::int32_t centerAuthTimeout = 30;
    std::int32_t centerFileTimeout = 300;
    std::int32_t centerReportTimeout = 300;
    std::int32_t tcpTimeout = 180;
    std::int32_t registTimeout = 120;
    std::int32_t connectTimeout = 30;
};

inline constexpr const char* kConfigIni = "plconfig.ini";
inline constexpr const char* kTimeoutIni = "pltimeout.ini";
inline constexpr const char* kTermIni = "plterm.ini";
inline constexpr const char* kFileIni = "plfile.ini";
inline constexpr const char* kCenterIni = "plcenter.ini";
inline constexpr const char* kGetFileIni = "plgetfile.ini";

// Null when plconfig.ini is not in the program folder.
std::unique_ptr<Settings> loadSettings();
std::unique_ptr<Settings> readSettings(const std::filesystem::path& plconfigPath);
// plconfig.ini alone, the time-outs left at their defaults; null when it is
// not in the program folder.
std::unique_ptr<Settings> loadConfigSettings();

// Direct plconfig.ini readers.
bool isHttpDaemon();
bool isHttpSSL();
// The gateway's port: `terminalport` when it is a number 1..65535, else 443
// with TLS and 80 without; 0 when plconfig.ini is missing.
int getTerminalPort();
bool isDialogAppearance();

// The terminal certificate, key and request files in tempFolder; empty when
// plconfig.ini is missing or tempFolder is not set.
struct CertificateFiles {
    std::string cert;
    std::string key;
    std::string csr;
};
CertificateFiles certificateFiles(const Settings& settings);
// The same from the settings as stored now; all empty when they cannot be read.
CertificateFiles configuredCertificateFiles();

} // namespace plx
