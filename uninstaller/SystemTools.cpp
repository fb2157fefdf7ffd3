#include "uninstaller/SystemTools.h"

#include <algorithm>
#include <string>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "uninstaller/SelfRegistration.h"

namespace plx::uninst {

namespace {

constexpr const char* kFontCacheTool = "/usr/bin/fc-cache";
constexpr const char* kMenuCacheTool = "/usr/bin/update-desktop-database";

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

} // namespace plx::uninst
