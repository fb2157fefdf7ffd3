#pragma once
// Running another program to its end.

#include <string>
#include <vector>

namespace plx {

// Runs argv[0] (searched in PATH when it holds no "/") with the arguments
// argv, standard input and output on /dev/null, standard error shared, and
// waits for it. Returns its exit code; -1 when it could not be started or was
// ended by a signal.
int runProgram(const std::vector<std::string>& argv);

} // namespace plx
