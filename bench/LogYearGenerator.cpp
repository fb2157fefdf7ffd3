// Writes a year of daily logs, in the logging library's own line layouts,
// for the log reader benchmark:
//
//   logyear_gen FOLDER [DAYS [SESSIONS_PER_DAY]]
//
// FOLDER/session holds plsessionYYYYMMDD.log and FOLDER/api plapiYYYYMMDD.log
// for DAYS days from 2023-01-01 (default 365), each with SESSIONS_PER_DAY
// session lines (default 3000) and as many API lines. A folder that already
// holds a complete set of the same size is kept as it is, so runs can share
// it.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "common/PLlogAbi.h"
#include "platform/FileTime.h"
#include "pllog/ApiRecord.h"
#include "pllog/SessionRecord.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFirstYear = 2023;

std::string stampOf(int year, int month, int day, int secondOfDay) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", year, month, day, secondOfDay / 3600,
                  secondOfDay / 60 % 60, secondOfDay % 60);
    return text;
}

class LogFileWriter {
public:
    explicit LogFileWriter(const fs::path& path) : path_(path), out_(path, std::ios::binary | std::ios::trunc) {
        if (!out_) throw std::runtime_error("cannot create " + path.string());
    }
    void line(const std::string& text) {
        buffer_ += text;
        buffer_ += '\n';
        if (buffer_.size() > (1 << 20)) flush();
    }
    void close() {
        flush();
        out_.close();
        if (!out_) throw std::runtime_error("cannot write " + path_.string());
    }

private:
    void flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }
    fs::path path_;
    std::ofstream out_;
    std::string buffer_;
};

// One day: terminal-started transfers (kinds 10 and 20) have their
// PLRecvData / PLSendData line; for the center-started ones (30 and 40) the
// application's PLSetData / PLGetData calls fill the API log instead.
void writeDay(const fs::path& folder, int year, int month, int day, int sessions) {
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", year, month, day);
    LogFileWriter sessionLog(folder / "session" / ("plsession" + std::string(date) + ".log"));
    LogFileWriter apiLog(folder / "api" / ("plapi" + std::string(date) + ".log"));

    PLlogTerminalRec term{
        "T000123", "0001234567", "center.example.co.jp", "https://center.example.co.jp/plx", "p@ssw0rd", "1.0", "", "",
        ""};
    int secondsApart = 86000 / sessions > 0 ? 86000 / sessions : 1;
    for (int n = 0; n < sessions; ++n) {
        int second = (n * secondsApart) % 86000;
        std::string start = stampOf(year, month, day, second);
        std::string end = stampOf(year, month, day, second + 3);
        std::string sessionId = start + std::to_string(1000 + n % 9000);
        int kind = 10 * (1 + n % 4);
        bool failed = n % 50 == 7;

        char protocolName[32], accessKey[32], loadNo[32], recordKey[32], fileName[64];
        std::snprintf(protocolName, sizeof protocolName, "URIAGE%02d", n % 20);
        std::snprintf(accessKey, sizeof accessKey, "AK%06d", n);
        std::snprintf(loadNo, sizeof loadNo, "%08d", n);
        std::snprintf(recordKey, sizeof recordKey, "RK%s%05d", date, n);
        std::snprintf(fileName, sizeof fileName, "uriage_%s_%04d.dat", date, n);
        PLlogFileRec file{};
        file.FileType = "FT01";
        file.ServiceNo = 1000 + n % 20;
        file.ProtocolFilename = protocolName;
        file.AccessKey = accessKey;
        file.RecordLength = 256;
        file.CompressID = 1;
        file.FileSize = 10000 + n;

        plx::SessionSummary summary;
        summary.level = failed ? 2 : 0;
        summary.start = start;
        summary.end = end;
        summary.transferKind = kind;
        summary.phase = failed ? 21 : 0;
        summary.resultCode = failed ? 33 : 0;
        summary.detail = 0;
        summary.sessionId = sessionId;
        summary.term = &term;
        summary.file = &file;
        summary.centerFileName = fileName;
        summary.loadNo = loadNo;
        summary.recordKey = recordKey;
        sessionLog.line(plx::formatSessionRecord(summary));

        std::string arguments =
            std::string("FT01,/srv/plx/data/") + (kind == 20 || kind == 40 ? "send" : "recv") + "," + fileName;
        plx::ApiCall call;
        call.code = failed ? 5 : 0;
        call.detail = failed ? 33 : 0;
        call.message = failed ? "二重ファイル転送" : "";
        switch (kind) {
        case 10: call.apiName = "PLRecvData", call.sessionId = sessionId, arguments += ",0"; break;
        case 20: call.apiName = "PLSendData", call.sessionId = sessionId; break;
        case 30: call.apiName = "PLGetData"; break;
        default: call.apiName = "PLSetData"; break;
        }
        call.argumentLine = arguments;
        apiLog.line(plx::formatApiRecord(end, call));
    }
    sessionLog.close();
    apiLog.close();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s FOLDER [DAYS [SESSIONS_PER_DAY]]\n", argv[0]);
        return 2;
    }
    fs::path folder = argv[1];
    int days = argc > 2 ? std::atoi(argv[2]) : 365;
    int sessions = argc > 3 ? std::atoi(argv[3]) : 3000;
    if (days < 1 || days > 3650 || sessions < 1 || sessions > 1000000) {
        std::fprintf(stderr, "days must be 1-3650 and sessions 1-1000000\n");
        return 2;
    }
    try {
        std::string stamp = std::to_string(days) + " days, " + std::to_string(sessions) + " sessions a day\n";
        fs::path marker = folder / "complete";
        if (std::ifstream in(marker); in) {
            std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (kept == stamp) {
                std::fprintf(stderr, "reusing the logs in %s\n", folder.c_str());
                return 0;
            }
        }
        fs::remove(marker);
        fs::remove_all(folder / "session");
        fs::remove_all(folder / "api");
        fs::create_directories(folder / "session");
        fs::create_directories(folder / "api");
        std::int64_t first = plx::daysFromCivil(kFirstYear, 1, 1);
        for (int d = 0; d < days; ++d) {
            int year, month, day;
            plx::civilFromDays(first + d, year, month, day);
            writeDay(folder, year, month, day, sessions);
        }
        std::ofstream(marker) << stamp;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
