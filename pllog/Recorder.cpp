#include "pllog/Recorder.h"

#include <memory>
#include <string>

#include "common/DateText.h"
#include "common/LogRetention.h"
#include "common/Settings.h"
#include "platform/Utf8.h"
#include "pllog/EventLog.h"
#include "pllog/LogFile.h"

namespace plx {

namespace {

// plconfig.ini, read once for a record: its folders and retention. A
// file that cannot be read costs the record's line, never its event.
std::unique_ptr<Settings> settingsQuietly() noexcept {
    try {
        return loadConfigSettings();
    } catch (...) {
        return nullptr;
    }
}

// A failed clean-up must not cost the record.
void cleanUpQuietly(const Settings* settings) noexcept {
    try {
        if (settings) deleteExpiredLogs(*settings);
    } catch (...) {
    }
}

LocalDateTime now() { return localNow().value_or(LocalDateTime{}); }

} // namespace

void recordApiCall(std::int16_t type, const ApiCall& call) {
    auto settings = settingsQuietly();
    cleanUpQuietly(settings.get());
    // One reading of the clock, so the stamp and the file's day agree at midnight.
    LocalDateTime time = now();
    std::string line = formatApiRecord(formatStamp(time), call);
    if (type != kEventNone) writeEvent(type, kApiLogCategory, line);
    if (!settings) return;
    if (auto file = dailyLogPath(settings->apiLogFolder, "plapi", time)) appendLine(*file, line);
}

void recordSession(std::int16_t type, const SessionSummary& session) {
    auto settings = settingsQuietly();
    cleanUpQuietly(settings.get());
    LocalDateTime time = now();
    std::string line = formatSessionRecord(session);
    if (type != kEventNone) writeEvent(type, kSessionLogCategory, line);
    if (!settings) return;
    if (auto file = dailyLogPath(settings->sessionLogFolder, "plsession", time)) appendLine(*file, line);
}

void recordProcessInfo(std::string_view text) {
    writeEvent(kEventInformation, kProcessInfoCategory, utf8Sanitize(text));
}

} // namespace plx
