#include "tests/pllog/LogFolders.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace plx::test {

namespace {

std::vector<std::string> linesOfFolder(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const auto& file : files) {
        std::string text = readFile(file);
        EXPECT_TRUE(text.empty() || text.back() == '\n') << file << " ends inside a line";
        std::size_t begin = 0;
        for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
            lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

} // namespace

LogFolders::LogFolders(std::string_view apiExtra, std::string_view sessionExtra) {
    writeFile(home / "plconfig.ini", "[apilog]\nlocation=" + api.path().string() + "\n" + std::string(apiExtra) +
                                         "[sessionlog]\nlocation=" + session.path().string() + "\n" +
                                         std::string(sessionExtra));
}

std::vector<std::string> LogFolders::apiLines() const { return linesOfFolder(api.path()); }
std::vector<std::string> LogFolders::sessionLines() const { return linesOfFolder(session.path()); }

std::vector<std::string> onlyRecord(const std::vector<std::string>& lines) {
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::vector<std::string>{} : splitFields(lines.front());
}

} // namespace plx::test
