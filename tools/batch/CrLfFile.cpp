#include "tools/batch/CrLfFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

int writeCrLfFile(const std::filesystem::path& path, std::string_view line) {
    std::string content(line);
    content += "\r\n";
    // Hidden and named by this process, so no reader takes it for the file;
    // the file's name is cut so that the temporary fits wherever the file does.
    std::string suffix = "." + std::to_string(::getpid()) + ".tmp";
    std::string stem = utf8Truncate(path.filename().string(), NAME_MAX - 1 - suffix.size());
    std::filesystem::path temp = path.parent_path() / ("." + stem + suffix);
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return errno;
    ScopedFileRemoval removal(temp);
    if (!writeAll(fd.get(), content.data(), content.size())) return errno;
    if (::close(fd.release()) != 0) return errno;
    if (::rename(temp.c_str(), path.c_str()) != 0) return errno;
    removal.release();
    return 0;
}

} // namespace plx
