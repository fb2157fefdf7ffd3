#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

#include "common/LogBridge.h"
#include "common/PLlogAbi.h"
#include "pllog/EventCatalog.h"
#include "pllog/EventLog.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;

namespace {

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

void logWithEvents() {
    EXPECT_EQ(callLogAPI(kEventError, 2, 5, "m", "s", "PLSendData", "x"), 1);
    EXPECT_EQ(callLogAPI(kEventWarning, 2, 5, "m", "s", "PLSendData", "x"), 1);
    EXPECT_EQ(callSessionAPI({.type = kEventError,
                              .level = 1,
                              .start = "a",
                              .end = "b",
                              .transferKind = 20,
                              .phase = 31,
                              .resultCode = 1,
                              .detail = 4,
                              .sessionId = "s"}),
              1);
    // The service never prints; other programs call the export itself.
    static auto logPrint =
        reinterpret_cast<PLlogLogPrintFn>(::dlsym(::dlopen(logLibraryPath().c_str(), RTLD_NOW), "logPrint"));
    ASSERT_NE(logPrint, nullptr);
    logPrint("プロセス開始");
}

} // namespace

// Whether or not a journal listens, events never cost the record, and the
// library leaves no descriptor behind after being unloaded.
TEST(PllogJournal, EventsNeverCostTheRecordOrADescriptor) {
    LogFolders logs;
    logWithEvents();
    std::size_t before = openDescriptors();
    for (int i = 0; i < 20; ++i) logWithEvents();
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(logs.apiLines().size(), 42u);
    EXPECT_EQ(logs.sessionLines().size(), 21u);
}

TEST(PllogJournal, CatalogDescribesEveryCategoryTheLibraryWrites) {
    std::string catalog = eventCatalog("/opt/plx/bin/libPLlog.so");
    const char* texts[] = {"サービスプログラム内", "APIログ", "通信ログ", "プロセス情報"};
    ASSERT_EQ(std::size(kEventCategories), std::size(texts));
    std::set<std::string> ids;
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        const EventCategory& category = kEventCategories[i];
        EXPECT_EQ(category.id, static_cast<int>(i + 1));
        EXPECT_STREQ(category.text, texts[i]);
        ids.insert(category.messageId);
        std::string entry = std::string("\n-- ") + category.messageId + "\nSubject: " + texts[i] +
                            "\nDefined-By: Korvane/PLX\n\n@MESSAGE@\n";
        EXPECT_NE(catalog.find(entry), std::string::npos) << texts[i];
    }
    EXPECT_EQ(ids.size(), std::size(texts));
    EXPECT_NE(catalog.find("\n# EventMessageFile=/opt/plx/bin/libPLlog.so\n# TypeSupported=7\n# CategoryCount=4\n"
                           "# CategoryMessageFile=/opt/plx/bin/libPLlog.so\n"),
              std::string::npos);
    // The records' categories are entries of the catalog.
    for (const EventCategory& used : {kApiLogCategory, kSessionLogCategory, kProcessInfoCategory})
        EXPECT_NE(catalog.find(std::string("-- ") + used.messageId + "\nSubject: " + used.text), std::string::npos);
    EXPECT_THROW(eventCatalog("a\nb"), std::invalid_argument);
}
