#pragma once
// The caches that follow removed files: the font cache, the menu's cache of
// program entries and the journal's compiled catalog. Each tool runs when it is installed, for
// at most a minute; its failure changes nothing for the caller.

#include <filesystem>
#include <vector>

namespace plx::uninst {

void refreshFontCache();
// For the folders ".desktop" files were removed from (those still there).
void refreshMenuCache(const std::vector<std::filesystem::path>& folders);
// A journal catalog file: "<root>/usr/lib/systemd/catalog/<name>.catalog".
bool isJournalCatalog(const std::filesystem::path& path);
// Compiles the catalogs of the root whose catalog file catalog was removed.
void refreshJournalCatalog(const std::filesystem::path& catalog);

} // namespace plx::uninst
