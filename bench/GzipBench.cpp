// gzip_bench: compresses standard input to standard output with
// ParallelGzip, like `gzip -6 -c`, so that the two (and pigz) can be timed
// the same way on the same file. With --send it does what a one-pass send
// does with the file: MD5 of the data (printed on standard error) while the
// data is compressed and Base64-encoded to standard output.
//
//   gzip_bench [--send] [THREADS] < FILE > OUTPUT
//
// THREADS: workers of a pool of its own; without it the process's shared
// pool (a worker per processor).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/Base64Stream.h"
#include "common/ByteSink.h"
#include "common/Md5.h"
#include "common/ParallelGzip.h"
#include "platform/FdIo.h"

int main(int argc, char** argv) {
    bool send = false;
    std::unique_ptr<plx::DeflatePool> ownPool;
    plx::ParallelGzip::Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--send") == 0) {
            send = true;
        } else {
            ownPool = std::make_unique<plx::DeflatePool>(static_cast<unsigned>(std::atoi(argv[i])));
            options.pool = ownPool.get();
        }
    }
    plx::FdSink stdoutSink(STDOUT_FILENO);
    plx::ByteSink out = stdoutSink.sink();
    plx::Base64Encoder base64(out);
    plx::ParallelGzip gz(
        send ? plx::ByteSink([&base64](const void* p, std::size_t n) { return base64.write(p, n); }) : out, options);
    plx::Md5 md5;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = plx::readSome(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0) {
            std::fprintf(stderr, "gzip_bench: read: %s\n", std::strerror(errno));
            return 1;
        }
        if (n == 0) break;
        if (send) md5.update(buffer.data(), static_cast<std::size_t>(n));
        if (!gz.write(buffer.data(), static_cast<std::size_t>(n))) break;
    }
    if (!gz.finish() || (send && !base64.finish())) {
        std::fprintf(stderr, "gzip_bench: failed (%s)\n",
                     stdoutSink.error() ? stdoutSink.error().message().c_str() : "compression");
        return 1;
    }
    if (send) std::fprintf(stderr, "%s\n", md5.finishHex().c_str());
    return 0;
}
