#include "common/GzipInflater.h"

#include <gtest/gtest.h>

#include <string>

#include "common/ParallelGzip.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

using test::gzipInMemory;
using test::mixedData;
using Failure = GzipInflater::Failure;

struct Result {
    bool ok = false;
    std::string out;
    Failure failure = Failure::None;
};

// Pushes input in pieces, then finishes.
Result inflateAll(const std::string& input, std::size_t piece = 65536,
                  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max()) {
    Result r;
    GzipInflater inflater(
        [&r](const void* p, std::size_t n) {
            r.out.append(static_cast<const char*>(p), n);
            return true;
        },
        limit);
    r.ok = true;
    for (std::size_t at = 0; at < input.size() && r.ok; at += piece)
        r.ok = inflater.write(input.data() + at, std::min(piece, input.size() - at));
    r.ok = r.ok && inflater.finish();
    r.failure = inflater.failure();
    EXPECT_EQ(inflater.bytesOut(), r.out.size());
    return r;
}

TEST(GzipInflater, ExpandsInPiecesOfAnySize) {
    const std::string data = mixedData(400000, 1);
    const std::string packed = gzipInMemory(data);
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{4096}, packed.size()}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        const Result r = inflateAll(packed, piece);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out, data);
    }
}

TEST(GzipInflater, ReadsLikeTheGzipFileReader) {
    const std::string first = mixedData(100000, 2), second = mixedData(50000, 3);
    // Members one after another.
    Result r = inflateAll(gzipInMemory(first) + gzipInMemory(second), 777);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, first + second);
    // Bytes after a member that do not start another are ignored.
    r = inflateAll(gzipInMemory(first) + "trailing bytes");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, first);
    r = inflateAll(gzipInMemory(first) + "\x1f");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, first);
    // Data that is not gzip passes through, down to a single byte.
    for (const std::string& plain : {std::string(), std::string("\x1f"), std::string("x"), first}) {
        r = inflateAll(plain, 3);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out, plain);
    }
}

TEST(GzipInflater, TruncatedAndCorruptStreamsFail) {
    const std::string packed = gzipInMemory(mixedData(200000, 4));
    for (std::size_t cut : {std::size_t{2}, std::size_t{10}, packed.size() / 2, packed.size() - 1}) {
        const Result r = inflateAll(packed.substr(0, cut));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failure, Failure::Truncated) << "cut at " << cut;
    }
    std::string badCrc = packed;
    badCrc[badCrc.size() - 8] ^= 1;
    Result r = inflateAll(badCrc);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::Corrupt);
    std::string badData = packed;
    for (std::size_t i = 100; i < 140; ++i) badData[i] = static_cast<char>(0xFF);
    r = inflateAll(badData);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::Corrupt);
}

TEST(GzipInflater, LimitAndSinkStopIt) {
    const std::string data = mixedData(300000, 5);
    const std::string packed = gzipInMemory(data);
    EXPECT_TRUE(inflateAll(packed, 65536, data.size()).ok);
    Result r = inflateAll(packed, 65536, data.size() - 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, Failure::TooLarge);
    EXPECT_LE(r.out.size(), data.size() - 1);
    // The limit holds for data that passes through too.
    r = inflateAll(data, 65536, 1000);
    EXPECT_EQ(r.failure, Failure::TooLarge);

    GzipInflater refused([](const void*, std::size_t) { return false; });
    EXPECT_FALSE(refused.write(packed.data(), packed.size()));
    EXPECT_EQ(refused.failure(), Failure::Sink);
    EXPECT_FALSE(refused.finish());
}

TEST(GzipInflater, ExpandsWhatParallelGzipMakes) {
    const std::string data = mixedData(1000000, 6);
    DeflatePool pool(3);
    ParallelGzip::Options options;
    options.pool = &pool;
    options.blockSize = 32 * 1024;
    std::string packed;
    ParallelGzip gz(
        [&packed](const void* p, std::size_t n) {
            packed.append(static_cast<const char*>(p), n);
            return true;
        },
        options);
    ASSERT_TRUE(gz.write(data.data(), data.size()));
    ASSERT_TRUE(gz.finish());
    const Result r = inflateAll(packed, 5000);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, data);
}

} // namespace
} // namespace plx
