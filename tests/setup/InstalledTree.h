#pragma once
// The product as `cmake --install` lays it out (made once by the test
// fixture), and copies of it that a test may change.

#include <filesystem>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace plx::test {

// The tree the fixture installed.
std::filesystem::path installedTree();

// A copy of the installed tree in a folder of the test's own, under a name
// with a blank and Japanese text in it.
class CopiedTree {
public:
    // programs: the files of bin/ to copy; empty: the whole tree.
    explicit CopiedTree(const std::vector<std::string>& programs = {});
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path bin() const { return root_ / "bin"; }
    // Runs bin/program from its installed place (PLX_HOME unset).
    ProgramRun run(const std::string& program, const std::vector<std::string>& args = {}) const;

private:
    TempDir dir_;
    std::filesystem::path root_;
};

} // namespace plx::test
