#pragma once
// The small files other programs wait for: a marker beside a data file, the
// batch program's result file. Each holds one line ending in CR LF.

#include <filesystem>
#include <string_view>

namespace plx {

// Replaces path with line + CR LF. The bytes go to a temporary file beside it
// that is then renamed over it, so a reader sees the old file or the whole
// new one, never a part. Returns 0, or the errno of the step that failed
// (nothing is left behind then).
int writeCrLfFile(const std::filesystem::path& path, std::string_view line);

} // namespace plx
