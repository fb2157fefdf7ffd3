#pragma once
// A program folder whose plconfig.ini sends each log into a folder of its
// own, and readers for what the library wrote there.

#include <string>
#include <string_view>
#include <vector>

#include "tests/TestSupport.h"

namespace plx::test {

class LogFolders {
public:
    // The extras are further lines of the apilog and sessionlog sections
    // ("days=2\n", say).
    explicit LogFolders(std::string_view apiExtra = {}, std::string_view sessionExtra = {});

    // Every line of every file of the folder, in file order; fails the test
    // when a file does not end in a complete line.
    std::vector<std::string> apiLines() const;
    std::vector<std::string> sessionLines() const;

    ScopedHome home;
    TempDir api;
    TempDir session;
};

// The fields of the only line in lines.
std::vector<std::string> onlyRecord(const std::vector<std::string>& lines);

} // namespace plx::test
