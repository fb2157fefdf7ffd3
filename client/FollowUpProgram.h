#pragma once
// Starting a data kind's follow-up program after a transfer: the command
// line is split into words (double quotes group blanks and are dropped) and
// the first word is looked up on PATH; no shell, so a missing program is
// reported. A script without a "#!" line runs under /bin/sh, as execvp
// runs it. The program runs on its own; it is reaped when it ends.

#include <string>
#include <string_view>
#include <vector>

namespace plx {

std::vector<std::string> splitCommandLine(std::string_view commandLine);

// False when the program could not be started (no words, not found, not
// executable); the reason's errno in error.
bool startProgram(std::string_view commandLine, int& error);

} // namespace plx
