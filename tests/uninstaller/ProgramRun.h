#pragma once
// Runs a program to its very end: the program and every process it leaves
// behind (this process adopts them as their subreaper), with its standard
// error kept.

#include <chrono>
#include <string>
#include <vector>

namespace plx::test {

struct ProgramRun {
    int exitCode = -1;  // -1: did not end within the limit (everything was killed)
    std::string errors; // what it wrote to standard error
};

// argv[0] is a path. The environment is this process's.
ProgramRun runToTheEnd(const std::vector<std::string>& argv, std::chrono::seconds limit = std::chrono::seconds(120));

} // namespace plx::test
