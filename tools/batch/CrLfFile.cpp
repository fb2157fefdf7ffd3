#include "tools/batch/CrLfFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

int writeCrLfFile(const std::filesystem::path& path, std::string_view line) {
    std::string content(line);
    content += "\r\n";
    // Hidden and named by this process, so no reader takes it for the file.
    std::filesystem::path temp =
        path.parent_path() / ("." + path.filename().string() + "." + std::to_string(::getpid()) + ".tmp");
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
