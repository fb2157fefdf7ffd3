#pragma once
// A file written in full beside the file it is to become, then put in its
// place in one step: a reader of the target never sees half a file, and a
// failure leaves the old one untouched.

#include <filesystem>

#include "platform/TempFile.h"

namespace plx {

class ReplacementFile {
public:
    ReplacementFile() = default;
    // A new empty, hidden file in folder, mode 0666 less the umask (a file
    // for the application, not a private scratch file). Throws
    // std::system_error when the folder cannot take it.
    static ReplacementFile create(const std::filesystem::path& folder);

    explicit operator bool() const { return static_cast<bool>(file_); }
    // Where the content is written.
    int fd() const { return file_.fd(); }
    const std::filesystem::path& path() const { return file_.path(); }

    // Stamps it with the current time, flushes it to disk and puts it at
    // target: renamed over it, or with failIfExists linked only where no
    // file is. False with errno set when any step fails; the file is then
    // still removed when the object goes.
    bool commit(const std::filesystem::path& target, bool failIfExists = false);

private:
    OpenTempFile file_;
};

} // namespace plx
