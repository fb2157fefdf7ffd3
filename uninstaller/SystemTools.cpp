#include "uninstaller/SystemTools.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "uninstaller/SelfRegistration.h"

namespace plx::uninst {

namespace {

constexpr const char* kFontCacheTool = "/usr/bin/fc-cache";
constexpr const char* kMenuCacheTool = "/usr/bin/update-desktop-database";
constexpr const char* kJournalTool = "/usr/bin/journalctl";
constexpr std::string_view kCatalogFolder = "/usr/lib/systemd/catalog";

void runTool(const std::vector<std::string>& argv) {
    if (::access(argv[0].c_str(), X_OK) != 0) return;
    try {
        ChildProcess tool(argv);
        if (!tool.waitFor(kChildWaitLimit)) tool.kill();
    } catch (const std::exception&) {
        // a cache that is not refreshed catches up by itself later
    }
}

} // namespace

void refreshFontCache() { runTool({kFontCacheTool}); }

void refreshMenuCache(const std::vector<std::filesystem::path>& folders) {
    std::vector<std::filesystem::path> done;
    for (const auto& folder : folders) {
        if (std::find(done.begin(), done.end(), folder) != done.end()) continue;
        done.push_back(folder);
        std::error_code ec;
        if (std::filesystem::is_directory(folder, ec)) runTool({kMenuCacheTool, "-q", folder.string()});
    }
}

bool isJournalCatalog(const std::filesystem::path& path) {
    return path.extension() == ".catalog" && path.parent_path().string().ends_with(kCatalogFolder);
}

void refreshJournalCatalog(const std::filesystem::path& catalog) {
    std::string folder = catalog.parent_path().string();
    std::string root = folder.substr(0, folder.size() - kCatalogFolder.size());
    runTool({kJournalTool, "--root=" + (root.empty() ? std::string("/") : root), "--update-catalog"});
}

} // namespace plx::uninst
