#pragma once
// The settings check that the service's methods (and its start) share.

#include <memory>

#include "common/Settings.h"

namespace plx {

// plconfig.ini with its three folders usable; otherwise throws
// PLException(2, 2, the text naming what is wrong), exact.
std::unique_ptr<Settings> loadCheckedSettings();

} // namespace plx
