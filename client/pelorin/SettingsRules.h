#pragma once
// The settings dialog's input check: the terminal fields and the four log
// settings, in a fixed order, each rule with its message and the tab and
// field the user is sent to.

#include <optional>

#include "api/ApiRecords.h"
#include "client/ClientIni.h"

namespace plx::pelorin {

enum class SettingsField {
    TerminalID,
    CenterID,
    CenterURL,
    Password,
    ProxyServer,
    ApiLogLocation,
    ApiLogDays,
    SessionLogLocation,
    SessionLogDays
};

struct SettingsFault {
    int tab; // 0 terminal, 1 data kinds, 2 options
    SettingsField field;
    const char* message;
};

// The first rule the texts break, as typed (nothing is trimmed). Log days
// are whole numbers from 1 up to 2147483647; a center URL, when given, has
// the form the service reads (isCenterUrl).
std::optional<SettingsFault> validateSettings(const TerminalRec& terminal, const LogSettings& logs);

} // namespace plx::pelorin
