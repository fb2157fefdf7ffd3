#include <filesystem>
#include <gtest/gtest.h>

#include "common/LogBridge.h"
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
    EXPECT_EQ(callSessionAPI(kEventError, 1, "a", "b", 20, 31, 1, 4, "s", nullptr, nullptr, 0, "", "", ""), 1);
    EXPECT_EQ(callLogPrint("プロセス開始"), 1);
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

TEST(PllogJournal, CatalogDescribesEveryCategory) {
    std::string catalog = test::readFile(PLX_PLLOG_CATALOG);
    for (const EventCategory& category : {kApiLogCategory, kSessionLogCategory, kProcessInfoCategory}) {
        std::string entry = std::string("-- ") + category.messageId + "\nSubject: " + category.text + "\n";
        EXPECT_NE(catalog.find(entry), std::string::npos) << category.text;
    }
}
