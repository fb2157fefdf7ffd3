#include "pllog/LogFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

#include "common/DateText.h"
#include "common/Paths.h"
#include "platform/UniqueFd.h"

namespace plx {

std::optional<std::filesystem::path> dailyLogPath(std::string_view folder, std::string_view prefix,
                                                  const LocalDateTime& day) {
    if (folder.empty()) return std::nullopt;
    std::string name(prefix);
    name += formatDate(day);
    name += ".log";
    return std::filesystem::path(joinPath(folder, name));
}

void appendLine(const std::filesystem::path& file, std::string_view line) {
    std::string text(line);
    text += '\n';
    // 0640: records carry passwords and session ids.
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640));
    if (!fd) throw std::system_error(errno, std::generic_category(), "open " + file.string());
    ssize_t written;
    do {
        written = ::write(fd.get(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) throw std::system_error(errno, std::generic_category(), "write " + file.string());
    // A second write for the rest could land between other writers' lines,
    // so a short write (a full disk) loses the end of this line instead.
    if (static_cast<std::size_t>(written) != text.size())
        throw std::system_error(ENOSPC, std::generic_category(), "short write " + file.string());
}

} // namespace plx
