// gzip_bench: compresses standard input to standard output with
// ParallelGzip, like `gzip -6 -c`, so that the two (and pigz) can be timed
// the same way on the same file.
//
//   gzip_bench [THREADS] < FILE > FILE.gz
//
// THREADS: workers of a pool of its own; without it the process's shared
// pool (a worker per processor).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include "common/ByteSink.h"
#include "common/ParallelGzip.h"
#include "platform/FdIo.h"

int main(int argc, char** argv) {
    std::unique_ptr<plx::DeflatePool> ownPool;
    plx::ParallelGzip::Options options;
    if (argc > 1) {
        ownPool = std::make_unique<plx::DeflatePool>(static_cast<unsigned>(std::atoi(argv[1])));
        options.pool = ownPool.get();
    }
    int writeError = 0;
    plx::ParallelGzip gz(plx::fdSink(STDOUT_FILENO, writeError), options);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = plx::readSome(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0) {
            std::fprintf(stderr, "gzip_bench: read: %s\n", std::strerror(errno));
            return 1;
        }
        if (n == 0) break;
        if (!gz.write(buffer.data(), static_cast<std::size_t>(n))) break;
    }
    if (!gz.finish()) {
        std::fprintf(stderr, "gzip_bench: failed (%s)\n", writeError ? std::strerror(writeError) : "compression");
        return 1;
    }
    return 0;
}
