#include "pllog/EventLog.h"

#include <dlfcn.h>
#include <string>

// The source position of this file means nothing to a reader of the journal.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace plx {

namespace {

// libsystemd keeps its journal socket in a static of its own. Unloaded with
// us after every record, it would leave one open socket behind per record;
// kept loaded, every later load of this library reuses the one socket.
void keepJournalClientLoaded() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&sd_journal_send), &info) == 0 || !info.dli_fname) return;
    if (void* handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) ::dlclose(handle);
}

} // namespace

int journalPriority(std::int16_t type) {
    switch (type) {
    case kEventError: return 3;
    case kEventWarning: return 4;
    default: return 6;
    }
}

void writeEvent(std::int16_t type, const EventCategory& category, std::string_view text) noexcept {
    try {
        std::string message(text);
        keepJournalClientLoaded();
        // sd_journal_send keeps no state of ours (unlike openlog), so the
        // library can be unloaded right after.
        sd_journal_send("MESSAGE=%s", message.c_str(), "MESSAGE_ID=%s", category.messageId, "PRIORITY=%d",
                        journalPriority(type), "SYSLOG_IDENTIFIER=%s", kSyslogIdentifier, "PLX_CATEGORY=%s",
                        category.text, nullptr);
    } catch (...) {
    }
}

} // namespace plx
