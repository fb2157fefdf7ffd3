#pragma once
// What a removal tells its user when it is done: why it stopped, or that
// files stayed, then each listed file it left with the reason. The dialog
// shows the lines, an unattended run writes them to standard error.

#include <string>
#include <vector>

#include "uninstaller/UnInstall.h"

namespace plx::uninst {

// result: engine's last run's. Empty when everything went.
std::vector<std::string> removalReport(const TCVUnInstall& engine, int result);

} // namespace plx::uninst
