#pragma once
// The desktop's caches that follow removed files: the font cache and the
// menu's cache of program entries. Each tool runs when it is installed, for
// at most a minute; its failure changes nothing for the caller.

#include <filesystem>
#include <vector>

namespace plx::uninst {

void refreshFontCache();
// For the folders ".desktop" files were removed from (those still there).
void refreshMenuCache(const std::vector<std::filesystem::path>& folders);

} // namespace plx::uninst
