// Throughput of the file codecs and the MD5 digest on one large file.
//
// PLX_BENCH_FILE names the file to work on; without it a 200 MB file of
// mixed data is made in the temporary folder and removed at the end. Every
// rate is in bytes of the plain file per second, so that encoding and
// decoding (or compressing and expanding) compare directly.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "common/Base64.h"
#include "common/FileControl.h"
#include "common/Gzip.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kDefaultSize = 200ull * 1000 * 1000;

// Scratch folder of one run, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (fs::temp_directory_path() / "plx-codec-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Alternating 64 KiB stretches of random bytes (which do not compress) and
// log-like text (which does), written a block at a time.
void writeMixedFile(const fs::path& path, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path.string());
    constexpr std::size_t kStretch = 64 * 1024;
    std::vector<char> block;
    block.reserve(2 * kStretch + 256);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint64_t line = 0;
    std::uint64_t written = 0;
    while (written < size) {
        block.clear();
        for (std::size_t i = 0; i < kStretch; i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            for (int b = 0; b < 8; ++b) block.push_back(static_cast<char>(state >> (8 * b)));
        }
        while (block.size() < 2 * kStretch) {
            char text[160];
            const int n = std::snprintf(
                text, sizeof text, "2024-05-01 12:%02u:%02u.%03u INFO transfer id=%llu block=%llu status=ok\n",
                static_cast<unsigned>(line / 60000 % 60), static_cast<unsigned>(line / 1000 % 60),
                static_cast<unsigned>(line % 1000), static_cast<unsigned long long>(line),
                static_cast<unsigned long long>(line * 7 % 100003));
            block.insert(block.end(), text, text + n);
            ++line;
        }
        const std::uint64_t n = std::min<std::uint64_t>(block.size(), size - written);
        out.write(block.data(), static_cast<std::streamsize>(n));
        written += n;
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct Workspace {
    ScratchDir scratch;
    fs::path plain;
    std::uint64_t plainSize = 0;
    fs::path text() const { return scratch.path() / "plain.b64"; }
    fs::path packed() const { return scratch.path() / "plain.gz"; }
    fs::path output() const { return scratch.path() / "output"; }
};

Workspace* workspace = nullptr;

void finish(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(workspace->plainSize));
    std::error_code ec;
    fs::remove(workspace->output(), ec);
}

void encodeBase64Bench(benchmark::State& state) {
    for (auto _ : state) {
        if (!plx::encodeFileBase64(workspace->plain, workspace->text())) {
            state.SkipWithError("encodeFileBase64 failed");
            break;
        }
    }
    finish(state);
}

void decodeBase64Bench(benchmark::State& state) {
    // Made here when encoding did not run first (a filtered run).
    if (!fs::exists(workspace->text()) && !plx::encodeFileBase64(workspace->plain, workspace->text())) {
        state.SkipWithError("cannot prepare the Base64 text");
        return;
    }
    for (auto _ : state) {
        if (!plx::decodeFileBase64(workspace->text(), workspace->output())) {
            state.SkipWithError("decodeFileBase64 failed");
            break;
        }
    }
    finish(state);
}

void gzipBench(benchmark::State& state) {
    for (auto _ : state) {
        if (!plx::gzipFile(workspace->plain, workspace->packed())) {
            state.SkipWithError("gzipFile failed");
            break;
        }
    }
    finish(state);
}

void gunzipBench(benchmark::State& state) {
    if (!fs::exists(workspace->packed()) && !plx::gzipFile(workspace->plain, workspace->packed())) {
        state.SkipWithError("cannot prepare the gzip file");
        return;
    }
    for (auto _ : state) {
        if (!plx::gunzipFile(workspace->packed(), workspace->output())) {
            state.SkipWithError("gunzipFile failed");
            break;
        }
    }
    finish(state);
}

void md5Bench(benchmark::State& state) {
    for (auto _ : state) {
        std::string digest = plx::getFileMD5(workspace->plain);
        if (digest.empty()) {
            state.SkipWithError("getFileMD5 failed");
            break;
        }
        benchmark::DoNotOptimize(digest);
    }
    finish(state);
}

// One pass over 200 MB already takes long enough to measure.
void configure(benchmark::internal::Benchmark* b) { b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond); }

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    try {
        Workspace ws;
        if (const char* given = std::getenv("PLX_BENCH_FILE"); given && *given) {
            ws.plain = given;
        } else {
            ws.plain = ws.scratch.path() / "plain";
            writeMixedFile(ws.plain, kDefaultSize);
        }
        std::error_code ec;
        ws.plainSize = fs::file_size(ws.plain, ec);
        if (ec) {
            std::fprintf(stderr, "cannot read %s: %s\n", ws.plain.c_str(), ec.message().c_str());
            return 1;
        }
        workspace = &ws;
        benchmark::AddCustomContext("plain_file", ws.plain.string());
        benchmark::AddCustomContext("plain_bytes", std::to_string(ws.plainSize));

        configure(benchmark::RegisterBenchmark("encodeFileBase64", encodeBase64Bench));
        configure(benchmark::RegisterBenchmark("decodeFileBase64", decodeBase64Bench));
        configure(benchmark::RegisterBenchmark("gzipFile", gzipBench));
        configure(benchmark::RegisterBenchmark("gunzipFile", gunzipBench));
        configure(benchmark::RegisterBenchmark("getFileMD5", md5Bench));
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        workspace = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "codec_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
