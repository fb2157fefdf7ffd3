#pragma once
// The checks that the service's methods (and its start) share: the
// settings, and the folder a file is received or picked up into.

#include <cstdint>
#include <memory>
#include <string>

#include "common/Settings.h"
#include "service/classes/CallerFiles.h"

namespace plx {

// plconfig.ini with its three folders usable; otherwise throws
// PLException(2, 2, the text naming what is wrong), exact.
std::unique_ptr<Settings> loadCheckedSettings();
// The same, for the methods that stage and pick up files: a plconfig.ini
// that cannot be read at all throws PLException(2, its errno or 0,
// "設定管理ファイル(plconfig.ini)が不正です").
std::unique_ptr<Settings> loadCheckedSettingsOrInvalid();

// folder, the argument at position, opened with caller's right to write
// there. Throws the argument error for a relative folder or one the caller
// may not use, and PLException(2, errno) for one the service cannot use.
CallerFolder openTargetFolder(const Caller& caller, const std::string& folder, std::int32_t position);

} // namespace plx
