#pragma once
// Runs a program to its very end: the program and every process it leaves
// behind (this process adopts them as their subreaper), with its standard
// error kept.

#include <chrono>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace plx::test {

// argv[0] is a path. The environment is this process's. exitCode is -1 when
// it did not end within the limit (everything was killed); err holds its
// standard error.
ProgramRun runToTheEnd(const std::vector<std::string>& argv, std::chrono::seconds limit = std::chrono::seconds(120));

} // namespace plx::test
