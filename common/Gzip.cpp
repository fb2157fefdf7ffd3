#include "common/Gzip.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "common/ByteSink.h"
#include "common/GzipInflater.h"
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
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    FdSink toFile(out.get());
    GzipInflater inflater(toFile.sink(), maxOutputBytes);
    std::vector<char> buffer(kBlockSize);
    for (;;) {
        const ssize_t n = readSome(in.get(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (n == 0) break;
        if (!inflater.write(buffer.data(), static_cast<std::size_t>(n))) return false;
    }
    if (!inflater.finish()) return false;
    return ::close(out.release()) == 0;
}

} // namespace plx
