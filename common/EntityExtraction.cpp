#include "common/EntityExtraction.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "common/Base64Stream.h"
#include "common/XmlWriter.h"
#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

// Shared with decodeFileBase64 (Base64.cpp).

namespace {

namespace fs = std::filesystem;

// The tags must lie within this many bytes of the start and of the end, so
// a message of any size costs two small reads besides the body.
constexpr std::size_t kWindow = 2047;

// Reads size bytes at offset unless the file ends first; -1 on error.
ssize_t preadFully(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

fs::path withSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

} // namespace

std::optional<fs::path> extractEntity(const fs::path& messageFile) {
    UniqueFd in(::open(messageFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return std::nullopt;
    struct stat info {};
    if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);

    std::string head(kWindow, '\0');
    const ssize_t headRead = preadFully(in.get(), head.data(), head.size(), 0);
    if (headRead < 0) return std::nullopt;
    head.resize(static_cast<std::size_t>(headRead));

    const auto start = head.find("<Entity");
    if (start == std::string::npos) return std::nullopt;
    const auto startEnd = head.find('>', start);
    if (startEnd == std::string::npos) return std::nullopt;
    const std::uint64_t bodyBegin = startEnd + 1;

    // The tail runs from the first "</" after the body to the end of F.
    std::uint64_t tailBegin = 0;
    std::string tail;
    if (fileSize <= kWindow && head.size() == fileSize) {
        const auto close = head.find("</", bodyBegin);
        if (close == std::string::npos) return std::nullopt;
        tailBegin = close;
        tail = head.substr(close);
    } else {
        const std::uint64_t span = std::min<std::uint64_t>(kWindow, fileSize - std::min(fileSize, bodyBegin));
        const std::uint64_t windowBegin = fileSize - span;
        std::string window(static_cast<std::size_t>(span), '\0');
        if (preadFully(in.get(), window.data(), window.size(), windowBegin) != static_cast<ssize_t>(span))
            return std::nullopt;
        const auto close = window.find("</");
        if (close == std::string::npos) return std::nullopt;
        tailBegin = windowBegin + close;
        tail = window.substr(close);
    }

    const fs::path dataFile = withSuffix(messageFile, ".dat");
    const fs::path tempFile = withSuffix(messageFile, ".tmp1");
    // Both go again unless the extraction goes through.
    ScopedFileRemoval removeData(dataFile);
    ScopedFileRemoval removeTemp(tempFile);

    {
        UniqueFd out(::open(dataFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!out) return std::nullopt;
        if (::lseek(in.get(), static_cast<off_t>(bodyBegin), SEEK_SET) < 0) return std::nullopt;
        if (!detail::decodeBase64Stream(in.get(), tailBegin - bodyBegin, out.get())) return std::nullopt;
        if (::close(out.release()) != 0) return std::nullopt;
    }

    {
        UniqueFd out(::open(tempFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!out) return std::nullopt;
        // The rewritten message keeps the access rights of the original.
        ::fchmod(out.get(), info.st_mode & 07777);
        const std::string pathText = escapeXmlText(dataFile.string());
        if (!writeAll(out.get(), head.data(), static_cast<std::size_t>(bodyBegin)) ||
            !writeAll(out.get(), pathText.data(), pathText.size()) || !writeAll(out.get(), tail.data(), tail.size()))
            return std::nullopt;
        if (::close(out.release()) != 0) return std::nullopt;
    }

    if (std::rename(tempFile.c_str(), messageFile.c_str()) != 0) return std::nullopt;
    removeTemp.release();
    removeData.release();
    return dataFile;
}

} // namespace plx
