#include "common/Base64Stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Base64.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

using test::randomData;

// A sink that keeps what it is given and the size of every piece.
struct Collected {
    std::string bytes;
    std::vector<std::size_t> pieces;
    ByteSink sink() {
        return [this](const void* p, std::size_t n) {
            bytes.append(static_cast<const char*>(p), n);
            pieces.push_back(n);
            return true;
        };
    }
};

ByteSink refusingSink(int& calls) {
    return [&calls](const void*, std::size_t) {
        ++calls;
        return false;
    };
}

TEST(Base64Encoder, PiecesOfAnySizeGiveTheTextOfTheWhole) {
    const std::string data = randomData(200001, 1);
    const std::string expected = encodeBase64(data);
    for (std::size_t piece : {1, 2, 3, 4, 5, 7, 65536, 100000, 200001}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        Collected out;
        Base64Encoder encoder(out.sink());
        for (std::size_t at = 0; at < data.size(); at += piece)
            ASSERT_TRUE(encoder.write(data.data() + at, std::min(piece, data.size() - at)));
        ASSERT_TRUE(encoder.finish());
        EXPECT_EQ(out.bytes, expected);
        EXPECT_EQ(encoder.charsOut(), base64Length(data.size()));
        // Whole groups of four, in pieces of at most 64 KiB.
        for (std::size_t n : out.pieces) {
            EXPECT_EQ(n % 4, 0u);
            EXPECT_LE(n, 65536u);
        }
    }
}

TEST(Base64Encoder, ShortStreamsArePadded) {
    for (const std::string data : {"", "A", "AB", "ABC", "ABCD"}) {
        Collected out;
        Base64Encoder encoder(out.sink());
        for (char c : data) ASSERT_TRUE(encoder.write(&c, 1));
        ASSERT_TRUE(encoder.finish());
        EXPECT_EQ(out.bytes, encodeBase64(data));
    }
    EXPECT_EQ(base64Length(0), 0u);
    EXPECT_EQ(base64Length(1), 4u);
    EXPECT_EQ(base64Length(3), 4u);
    EXPECT_EQ(base64Length(4), 8u);
}

TEST(Base64Encoder, ARefusingSinkStopsIt) {
    int calls = 0;
    Base64Encoder encoder(refusingSink(calls));
    const std::string data = randomData(100000, 2);
    EXPECT_FALSE(encoder.write(data.data(), data.size()));
    EXPECT_FALSE(encoder.write(data.data(), 3));
    EXPECT_FALSE(encoder.finish());
    EXPECT_EQ(calls, 1);

    // A failure at the very end is reported too.
    int lateCalls = 0;
    Base64Encoder small(refusingSink(lateCalls));
    EXPECT_TRUE(small.write("AB", 2));
    EXPECT_FALSE(small.finish());
}

TEST(Base64Decoder, PiecesOfAnySizeGiveTheBytes) {
    const std::string data = randomData(150001, 3);
    const std::string text = encodeBase64(data);
    for (std::size_t piece : {1, 3, 4, 5, 65536, 70000, 200000}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        Collected out;
        Base64Decoder decoder(out.sink());
        for (std::size_t at = 0; at < text.size(); at += piece)
            ASSERT_TRUE(decoder.write(text.data() + at, std::min(piece, text.size() - at)));
        ASSERT_TRUE(decoder.finish());
        EXPECT_EQ(out.bytes, data);
        EXPECT_EQ(decoder.bytesOut(), data.size());
        EXPECT_TRUE(decoder.ended());
    }
}

TEST(Base64Decoder, EndingsBlanksAndPadding) {
    auto decode = [](const std::string& text) {
        Collected out;
        Base64Decoder decoder(out.sink());
        const bool ok = decoder.write(text.data(), text.size()) && decoder.finish();
        return ok ? out.bytes : std::string("<refused>");
    };
    EXPECT_EQ(decode(""), "");
    EXPECT_EQ(decode("QQ=="), "A");
    EXPECT_EQ(decode("QUI="), "AB");
    EXPECT_EQ(decode("QQ"), "A");   // no padding
    EXPECT_EQ(decode("QUI"), "AB"); // no padding
    EXPECT_EQ(decode("QUJD"
                     "Q"),
              "ABC"); // a lone character carries no byte
    EXPECT_EQ(decode("QU\r\nJD\t Q Q =="), "ABCA");
    EXPECT_EQ(decode("QQ==*not read*"), "A");
    EXPECT_EQ(decode("QU*D"), "<refused>");
}

TEST(Base64Decoder, ABadByteOrARefusingSinkStopsIt) {
    Collected out;
    Base64Decoder decoder(out.sink());
    EXPECT_FALSE(decoder.write("QUJD-QUJD", 9));
    EXPECT_TRUE(decoder.badText());
    EXPECT_FALSE(decoder.write("QUJD", 4));
    EXPECT_FALSE(decoder.finish());

    int calls = 0;
    Base64Decoder refused(refusingSink(calls));
    EXPECT_FALSE(refused.write("QUJD", 4));
    EXPECT_FALSE(refused.badText());
    EXPECT_FALSE(refused.finish());
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace plx
