#include "common/Gzip.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace {

constexpr unsigned kBlockSize = 64 * 1024;

struct GzCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzHandle = std::unique_ptr<gzFile_s, GzCloser>;

// gzclose reports the last buffered write and a truncated input, so its
// result decides success.
bool closeGz(GzHandle& file) { return gzclose(file.release()) == Z_OK; }

} // namespace

bool gzipFile(const std::filesystem::path& source, const std::filesystem::path& destination) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    GzHandle out(gzopen(destination.c_str(), "wbe"));
    if (!out) return false;
    gzbuffer(out.get(), kBlockSize);
    std::vector<char> buffer(kBlockSize);
    for (;;) {
        const ssize_t n = readSome(in.get(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (n == 0) break;
        if (gzwrite(out.get(), buffer.data(), static_cast<unsigned>(n)) != static_cast<int>(n)) return false;
    }
    return closeGz(out);
}

bool gunzipFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                std::uint64_t maxOutputBytes) {
    UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) return false;
    GzHandle in(gzopen(source.c_str(), "rbe"));
    if (!in) return false;
    gzbuffer(in.get(), kBlockSize);
    std::vector<char> buffer(kBlockSize);
    std::uint64_t total = 0;
    for (;;) {
        const int n = gzread(in.get(), buffer.data(), kBlockSize);
        if (n < 0) return false;
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        if (total > maxOutputBytes) return false;
        if (!writeAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) return false;
    }
    // A truncated stream ends like a complete one, with the fault recorded.
    int error = Z_OK;
    gzerror(in.get(), &error);
    if (error != Z_OK) return false;
    if (!closeGz(in)) return false;
    return ::close(out.release()) == 0;
}

} // namespace plx
