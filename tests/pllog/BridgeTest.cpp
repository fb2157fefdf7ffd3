#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/LogBridge.h"
#include "common/PLlogAbi.h"
#include "tests/pllog/LogFolders.h"

using namespace plx;
using test::LogFolders;
using test::ScopedEnv;

namespace {

class Library {
public:
    Library() : handle_(::dlopen(logLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_) ::dlclose(handle_);
    }
    void* handle() const { return handle_; }
    void* find(const char* name) const { return ::dlsym(handle_, name); }

private:
    void* handle_;
};

void callAll() {
    TerminalRec t;
    FileRec f;
    EXPECT_EQ(callLogAPI(1, 0, 0, "m", "s", "a", "x"), 0);
    EXPECT_EQ(
        callSessionAPI({.type = 1, .transferKind = 10, .phase = 11, .sessionId = "s", .terminal = &t, .file = &f}), 0);
}

} // namespace

TEST(PllogBridge, EmptyOverrideMeansTheLibraryBesideTheProgram) {
    LogFolders logs;
    ScopedEnv library("PLX_PLLOG_LIBRARY", "");
    ASSERT_TRUE(std::filesystem::exists(logLibraryPath())) << logLibraryPath();
    EXPECT_EQ(callLogAPI(0, 0, 0, "", "", "PLGetTermInfo", ""), 1);
    EXPECT_EQ(logs.apiLines().size(), 1u);
}

TEST(PllogBridge, MissingLibraryOrExportIsSilent) {
    LogFolders logs;
    {
        ScopedEnv library("PLX_PLLOG_LIBRARY", (logs.home / "libPLlog.so").string());
        callAll();
    }
    {
        // A library that loads but has none of the exports.
        Dl_info info{};
        ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::getpid), &info), 0);
        ScopedEnv library("PLX_PLLOG_LIBRARY", info.dli_fname);
        EXPECT_EQ(callLogAPI(1, 0, 0, "m", "s", "a", "x"), 1);
        EXPECT_EQ(callSessionAPI({.type = 1, .transferKind = 10, .phase = 11, .sessionId = "s"}), 1);
    }
    EXPECT_TRUE(logs.apiLines().empty());
    EXPECT_TRUE(logs.sessionLines().empty());
}

TEST(PllogBridge, OnlyTheThreeEntryPointsAreExported) {
    Library library;
    ASSERT_NE(library.handle(), nullptr) << ::dlerror();
    EXPECT_NE(library.find("logAPI"), nullptr);
    EXPECT_NE(library.find("sessionAPI"), nullptr);
    EXPECT_NE(library.find("logPrint"), nullptr);
    // The project code inside must bind to itself, never to the loader's copy.
    EXPECT_EQ(library.find("_ZN3plx17deleteExpiredLogsEv"), nullptr);
    EXPECT_EQ(library.find("_ZN3plx12loadSettingsEv"), nullptr);
}

TEST(PllogBridge, NullTextsAndFieldsAreEmpty) {
    LogFolders logs;
    Library library;
    ASSERT_NE(library.handle(), nullptr) << ::dlerror();
    auto logApi = reinterpret_cast<PLlogLogApiFn>(library.find("logAPI"));
    auto sessionApi = reinterpret_cast<PLlogSessionApiFn>(library.find("sessionAPI"));
    auto logPrintFn = reinterpret_cast<PLlogLogPrintFn>(library.find("logPrint"));
    ASSERT_TRUE(logApi && sessionApi && logPrintFn);

    logApi(0, 3, 1, nullptr, nullptr, nullptr, nullptr);
    PLlogTerminalRec term{};
    PLlogFileRec file{};
    file.FileSize = 10;
    file.RecordLength = 10;
    sessionApi(0, 1, nullptr, nullptr, 10, 11, 0, 0, nullptr, &term, &file, 0, nullptr, nullptr, nullptr);
    logPrintFn(nullptr);

    auto api = test::onlyRecord(logs.apiLines());
    EXPECT_EQ(std::vector<std::string>(api.begin() + 1, api.end()),
              (std::vector<std::string>{"3", "1", "", "", "", ""}));
    EXPECT_EQ(test::onlyRecord(logs.sessionLines()),
              (std::vector<std::string>{"1", "", "", "10", "11", "00", "0",  "",  "",  "", "", "",
                                        "0", "", "", "",   "10", "1",  "10", "0", "0", "", ""}));
}
