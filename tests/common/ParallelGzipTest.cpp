#include "common/ParallelGzip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

using test::gunzipInMemory;
using test::gzipInMemory;
using test::mixedData;
using test::randomData;

constexpr std::size_t kBlock = 32 * 1024; // the smallest block: many blocks from little data

ParallelGzip::Options optionsFor(DeflatePool& pool, std::size_t blockSize = kBlock) {
    ParallelGzip::Options options;
    options.pool = &pool;
    options.blockSize = blockSize;
    return options;
}

// Compresses data pushed in pieces of piece bytes; the whole output.
std::string compress(const std::string& data, ParallelGzip::Options options, std::size_t piece = 100000) {
    std::string out;
    ParallelGzip gz(
        [&out](const void* p, std::size_t n) {
            out.append(static_cast<const char*>(p), n);
            return true;
        },
        options);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        if (!gz.write(data.data() + at, std::min(piece, data.size() - at))) throw std::runtime_error("write");
    }
    if (!gz.finish()) throw std::runtime_error("finish");
    EXPECT_EQ(gz.bytesIn(), data.size());
    EXPECT_EQ(gz.bytesOut(), out.size());
    return out;
}

std::uint32_t littleEndian32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

// What the system's gunzip makes of a gzip stream.
std::string systemGunzip(const std::string& packed) {
    test::TempDir dir;
    test::writeFile(dir / "data.gz", packed);
    const test::ProgramRun run = test::runCaptured({"/bin/gzip", "-d", "-c", (dir / "data.gz").string()});
    if (run.exitCode != 0) throw std::runtime_error("gunzip: " + run.err);
    return run.out;
}

TEST(ParallelGzip, SizesAroundBlockEdgesRoundTripThroughGunzipAndZlib) {
    DeflatePool pool(4);
    const std::string source = mixedData(4 * kBlock + 100, 11);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 3 * kBlock + 7,
                             4 * kBlock + 100}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string data = source.substr(0, size);
        const std::string packed = compress(data, optionsFor(pool), 5000);
        // One member: zlib must consume every byte of it.
        EXPECT_EQ(gunzipInMemory(packed), data);
        EXPECT_EQ(systemGunzip(packed), data);
        // The trailer: CRC-32 of the whole data and its length.
        ASSERT_GE(packed.size(), 18u);
        EXPECT_EQ(littleEndian32(packed, packed.size() - 8),
                  crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        EXPECT_EQ(littleEndian32(packed, packed.size() - 4), data.size());
    }
}

TEST(ParallelGzip, HeaderIsThatOfTheGzipFileWriter) {
    DeflatePool pool(2);
    const std::string packed = compress("hello", optionsFor(pool));
    ASSERT_GE(packed.size(), 10u);
    // Magic, deflate, no flags, no time, default level, Unix.
    EXPECT_EQ(packed.substr(0, 10), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10));

    // The empty stream is the same 20 bytes zlib writes.
    const std::string empty = compress("", optionsFor(pool));
    const std::string reference = gzipInMemory("");
    EXPECT_EQ(empty.substr(10), reference.substr(10));
}

TEST(ParallelGzip, RandomRepetitiveAndMixedDataRoundTrip) {
    DeflatePool pool(4);
    const std::string repetitive = [] {
        std::string s;
        while (s.size() < 1000000) s += "2024-01-01,record,000123,ACME,42.00\n";
        return s;
    }();
    for (const std::string& data : {randomData(700001, 12), repetitive, mixedData(1500000, 13)}) {
        const std::string packed = compress(data, optionsFor(pool, 128 * 1024), 65536);
        EXPECT_EQ(gunzipInMemory(packed), data);
        EXPECT_EQ(systemGunzip(packed), data);
    }
}

TEST(ParallelGzip, SameBytesWhateverTheThreadsAndPieces) {
    const std::string data = mixedData(3 * 1024 * 1024 + 333, 14);
    DeflatePool one(1), two(2), eight(8);
    const std::string reference = compress(data, optionsFor(one));
    EXPECT_EQ(compress(data, optionsFor(two), 4096), reference);
    EXPECT_EQ(compress(data, optionsFor(eight), 1), reference);
    EXPECT_EQ(compress(data, optionsFor(eight), 7777), reference);
    EXPECT_EQ(compress(data, optionsFor(eight), data.size()), reference);
}

TEST(ParallelGzip, PrimingKeepsTheRatioOfOneStream) {
    DeflatePool pool(4);
    // A table of 20 KiB repeated: a block that did not see the 32 KiB
    // before it would hold its first copy almost uncompressed.
    const std::string table = randomData(15000, 15);
    std::string data;
    while (data.size() < 2 * 1024 * 1024) data += table;
    const std::string packed = compress(data, optionsFor(pool));
    const std::string single = gzipInMemory(data);
    EXPECT_LE(packed.size(), single.size() + 20 * (data.size() / kBlock));
}

TEST(ParallelGzip, LevelsAreHonoured) {
    DeflatePool pool(2);
    const std::string data = mixedData(300000, 16);
    ParallelGzip::Options fast = optionsFor(pool);
    fast.level = 1;
    ParallelGzip::Options best = optionsFor(pool);
    best.level = 9;
    const std::string a = compress(data, fast), b = compress(data, best);
    EXPECT_EQ(static_cast<unsigned char>(a[8]), 4);
    EXPECT_EQ(static_cast<unsigned char>(b[8]), 2);
    EXPECT_EQ(gunzipInMemory(a), data);
    EXPECT_EQ(gunzipInMemory(b), data);

    ParallelGzip::Options wrong = optionsFor(pool);
    wrong.level = 12;
    ParallelGzip gz([](const void*, std::size_t) { return true; }, wrong);
    EXPECT_FALSE(gz.write("x", 1));
    EXPECT_EQ(gz.failure(), ParallelGzip::Failure::Compression);
}

TEST(ParallelGzip, ConcurrentStreamsShareOnePool) {
    DeflatePool pool(3, 2);
    constexpr int kStreams = 8;
    std::vector<std::string> inputs, outputs(kStreams);
    for (int i = 0; i < kStreams; ++i) inputs.push_back(mixedData(600000 + 1000 * i, 20 + i));
    std::vector<std::thread> threads;
    for (int i = 0; i < kStreams; ++i)
        threads.emplace_back([&, i] { outputs[i] = compress(inputs[i], optionsFor(pool), 10000); });
    for (auto& t : threads) t.join();
    DeflatePool alone(1);
    for (int i = 0; i < kStreams; ++i) {
        EXPECT_EQ(gunzipInMemory(outputs[i]), inputs[i]);
        EXPECT_EQ(outputs[i], compress(inputs[i], optionsFor(alone)));
    }
    // Each stream's own block plus the pool's spare places, at most.
    EXPECT_LE(pool.peakBlocksInFlight(), kStreams + pool.spareBlocks());
    EXPECT_EQ(pool.blocksInFlight(), 0u);
}

// A long stream maps its block buffers once and then reuses them.
TEST(ParallelGzip, BlockBuffersAreReusedNotMappedPerBlock) {
    DeflatePool pool(4);
    const std::string data = mixedData(400 * kBlock, 31); // 400 blocks
    EXPECT_EQ(gunzipInMemory(compress(data, optionsFor(pool), 1 << 20)), data);
    // An input and an output per block in flight, and the stream's next two inputs.
    EXPECT_LE(pool.buffersMapped(), 2 * (pool.spareBlocks() + 2));
}

TEST(ParallelGzip, BlocksInFlightStayBoundedWhateverTheSize) {
    DeflatePool pool(8, 64);
    const std::string data = mixedData(16 * 1024 * 1024, 30);
    ParallelGzip::Options options = optionsFor(pool);
    options.maxBlocksInFlight = 3;
    std::uint64_t delivered = 0;
    ParallelGzip gz(
        [&delivered](const void*, std::size_t n) {
            delivered += n;
            return true;
        },
        options);
    for (std::size_t at = 0; at < data.size(); at += 1 << 20) ASSERT_TRUE(gz.write(data.data() + at, 1 << 20));
    ASSERT_TRUE(gz.finish());
    EXPECT_LE(gz.peakBlocksInFlight(), 3u);
    EXPECT_LE(pool.peakBlocksInFlight(), 3u);
    EXPECT_EQ(delivered, gz.bytesOut());

    // The pool's spare places bound a stream that may take more.
    DeflatePool narrow(8, 2);
    ParallelGzip::Options wide = optionsFor(narrow);
    wide.maxBlocksInFlight = 100;
    ParallelGzip gz2([](const void*, std::size_t) { return true; }, wide);
    for (std::size_t at = 0; at < data.size(); at += 1 << 20) ASSERT_TRUE(gz2.write(data.data() + at, 1 << 20));
    ASSERT_TRUE(gz2.finish());
    EXPECT_LE(gz2.peakBlocksInFlight(), 3u);
    EXPECT_EQ(narrow.blocksInFlight(), 0u);
}

TEST(ParallelGzip, AFailingSinkStopsTheStreamCleanly) {
    DeflatePool pool(4);
    const std::string data = mixedData(4 * 1024 * 1024, 40);
    int calls = 0;
    int callsAfterRefusal = 0;
    bool refused = false;
    ParallelGzip gz(
        [&](const void*, std::size_t) {
            if (refused) ++callsAfterRefusal;
            if (++calls == 5) refused = true;
            return !refused;
        },
        optionsFor(pool));
    bool ok = true;
    std::size_t at = 0;
    for (; at < data.size() && ok; at += 65536) ok = gz.write(data.data() + at, 65536);
    EXPECT_FALSE(ok);
    EXPECT_LT(at, data.size()); // stopped early, not at the end
    EXPECT_EQ(gz.failure(), ParallelGzip::Failure::Sink);
    EXPECT_FALSE(gz.write("more", 4));
    EXPECT_FALSE(gz.finish());
    EXPECT_EQ(callsAfterRefusal, 0);
    EXPECT_EQ(pool.blocksInFlight(), 0u);
}

TEST(ParallelGzip, AbandoningAStreamReleasesItsBlocks) {
    DeflatePool pool(2);
    const std::string data = mixedData(2 * 1024 * 1024, 41);
    {
        ParallelGzip gz([](const void*, std::size_t) { return true; }, optionsFor(pool));
        ASSERT_TRUE(gz.write(data.data(), data.size()));
    }
    EXPECT_EQ(pool.blocksInFlight(), 0u);
    // The pool still serves a new stream.
    EXPECT_EQ(gunzipInMemory(compress(data, optionsFor(pool))), data);
}

TEST(ParallelGzip, NothingMayFollowFinish) {
    DeflatePool pool(1);
    ParallelGzip gz([](const void*, std::size_t) { return true; }, optionsFor(pool));
    ASSERT_TRUE(gz.finish());
    EXPECT_FALSE(gz.write("x", 1));
    EXPECT_EQ(gz.failure(), ParallelGzip::Failure::Finished);
}

TEST(ParallelGzip, SharedPoolHasAWorkerPerProcessor) {
    EXPECT_GE(DeflatePool::shared().threads(), 1u);
    const std::string data = mixedData(500000, 42);
    EXPECT_EQ(gunzipInMemory(compress(data, ParallelGzip::Options{})), data);
}

} // namespace
} // namespace plx
