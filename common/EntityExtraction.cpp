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

#include "platform/UniqueFd.h"

namespace plx {

// Shared with decodeFileBase64 (Base64.cpp).
namespace detail {
bool writeFully(int fd, const void* data, std::size_t size);
bool decodeBase64Stream(int source, std::uint64_t limit, int destination);
} // namespace detail

namespace {

namespace fs = std::filesystem;

// The tags must lie within this many bytes of the start and of the end, so
// a message of any size costs two small reads besides the body.
constexpr std::size_t kWindow = 2047;

// Reads size bytes at offset unless the file ends first; -1 on error.
long preadFully(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
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
    return static_cast<long>(done);
}

std::string escapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

fs::path withSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

// Removes the companion files unless the extraction went through.
class CompanionCleanup {
public:
    CompanionCleanup(fs::path data, fs::path temp) : data_(std::move(data)), temp_(std::move(temp)) {}
    CompanionCleanup(const CompanionCleanup&) = delete;
    CompanionCleanup& operator=(const CompanionCleanup&) = delete;
    ~CompanionCleanup() {
        if (!armed_) return;
        ::unlink(temp_.c_str());
        ::unlink(data_.c_str());
    }
    void release() { armed_ = false; }

private:
    fs::path data_;
    fs::path temp_;
    bool armed_ = true;
};

} // namespace

std::optional<fs::path> extractEntity(const fs::path& messageFile) {
    UniqueFd in(::open(messageFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return std::nullopt;
    struct stat info {};
    if (::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);

    std::string head(kWindow, '\0');
    const long headRead = preadFully(in.get(), head.data(), head.size(), 0);
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
        if (preadFully(in.get(), window.data(), window.size(), windowBegin) != static_cast<long>(span))
            return std::nullopt;
        const auto close = window.find("</");
        if (close == std::string::npos) return std::nullopt;
        tailBegin = windowBegin + close;
        tail = window.substr(close);
    }

    const fs::path dataFile = withSuffix(messageFile, ".dat");
    const fs::path tempFile = withSuffix(messageFile, ".tmp1");
    CompanionCleanup cleanup(dataFile, tempFile);

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
        if (!detail::writeFully(out.get(), head.data(), static_cast<std::size_t>(bodyBegin)) ||
            !detail::writeFully(out.get(), pathText.data(), pathText.size()) ||
            !detail::writeFully(out.get(), tail.data(), tail.size()))
            return std::nullopt;
        if (::close(out.release()) != 0) return std::nullopt;
    }

    if (std::rename(tempFile.c_str(), messageFile.c_str()) != 0) return std::nullopt;
    cleanup.release();
    return dataFile;
}

} // namespace plx
