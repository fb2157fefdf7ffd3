#pragma once
// The daily log of a command tool: one file per local day in a fixed folder,
// opened for appending for every line. Logging is best effort: a line that
// cannot be written (a day's file that is a link, a FIFO or anything else but
// a regular file is never written) is reported once on standard error and the
// tool carries on with its work.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileTime.h"

namespace plx {

// PLX_LOG_DIR when set and non-empty, else /var/log/plx/.
std::filesystem::path commandLogFolder();

// prefix + YYYYMMDD + ".log".
std::string commandLogFileName(std::string_view prefix, const LocalDateTime& day);

// One line, without its line end: "yyyy/MM/dd H:mm:ss <T-pid> text" (the hour
// without a leading zero); without a pid the tag is "<T-> ".
std::string commandLogLine(const LocalDateTime& at, char type, std::optional<int> pid, std::string_view text);

class CommandLog {
public:
    using Clock = std::function<LocalDateTime()>;

    // filePrefix names the daily file ("PLSendDataCmd_"); withPid puts this
    // process's id in every line's tag.
    CommandLog(std::string filePrefix, bool withPid, Clock clock = {});

    // Appends one line; creates the folder when it is missing (setgid, group
    // writable) and the day's file mode 0664, whatever the umask, so that
    // every user of the folder's group appends to it. Never throws.
    void write(char type, std::string_view text) noexcept;

private:
    std::string prefix_;
    std::optional<int> pid_;
    Clock clock_;
    bool warned_ = false;
};

} // namespace plx
