#pragma once
// Records copied into the systemd journal, which stands in for the event log.

#include <cstdint>
#include <string_view>

namespace plx {

inline constexpr const char* kSyslogIdentifier = "Korvane/PLX";

struct EventCategory {
    int id;
    const char* text;      // sent as PLX_CATEGORY
    const char* messageId; // MESSAGE_ID; the catalog (EventCatalog.h) describes it
};

// Category 1 is the service's own; the library itself writes 2 to 4.
inline constexpr EventCategory kServiceProgramCategory{1, "サービスプログラム内", "3f33b73d1d094efa9cf5f3dad5b0327b"};
inline constexpr EventCategory kApiLogCategory{2, "APIログ", "743d43e326314ba680f7ec3a44983c90"};
inline constexpr EventCategory kSessionLogCategory{3, "通信ログ", "1db509fffbc1425eada75b21a573f1d9"};
inline constexpr EventCategory kProcessInfoCategory{4, "プロセス情報", "d55f53ed2c304c7bab540bacc83ece22"};
inline constexpr EventCategory kEventCategories[] = {kServiceProgramCategory, kApiLogCategory, kSessionLogCategory,
                                                     kProcessInfoCategory};

// Event types of the callers.
inline constexpr std::int16_t kEventNone = 0;
inline constexpr std::int16_t kEventError = 1;
inline constexpr std::int16_t kEventWarning = 2;
inline constexpr std::int16_t kEventInformation = 4;

// Syslog priority of an event type: error 3, warning 4, anything else 6.
int journalPriority(std::int16_t type);

// One journal entry whose MESSAGE is text. A journal that cannot be reached
// loses the entry and nothing else happens.
void writeEvent(std::int16_t type, const EventCategory& category, std::string_view text) noexcept;

} // namespace plx
