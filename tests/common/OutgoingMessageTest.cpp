#include "common/OutgoingMessage.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace plx {
namespace {

// A producer that hands over the given pieces in turn, then answers result.
OutgoingMessage::Producer giving(std::vector<std::string> pieces, bool result = true) {
    return [pieces = std::move(pieces), result](const ByteSink& sink) {
        for (const std::string& piece : pieces)
            if (!sink(piece.data(), piece.size())) return false;
        return result;
    };
}

// What writeTo hands a sink that takes at most limit bytes.
struct Written {
    bool ok = false;
    std::string bytes;
};
Written writeOut(const OutgoingMessage& message, std::size_t limit = std::string::npos) {
    Written out;
    out.ok = message.writeTo([&](const void* data, std::size_t size) {
        if (out.bytes.size() + size > limit) return false;
        out.bytes.append(static_cast<const char*>(data), size);
        return true;
    });
    return out;
}

TEST(OutgoingMessage, PiecesGoInOrderWithThePrependedTextFirst) {
    OutgoingMessage body;
    body.appendProduced(3, giving({"x", "yz"}));
    body.append("<a>");
    body.append("");
    body.appendProduced(0, giving({}));
    body.appendProduced(4, giving({"1234"}));
    OutgoingMessage message;
    message.append("[");
    message.append(std::move(body));
    message.append("]");
    message.prepend("HEAD ");
    message.prepend("");

    std::string text;
    ASSERT_TRUE(message.toText(text));
    EXPECT_EQ(text, "HEAD [xyz<a>1234]");
    EXPECT_EQ(message.size(), text.size());
    // Written again, the same bytes: producers run on every write.
    EXPECT_EQ(writeOut(message).bytes, text);

    // A head before a message that starts with produced content.
    OutgoingMessage produced;
    produced.appendProduced(2, giving({"pq"}));
    produced.prepend("H:");
    ASSERT_TRUE(produced.toText(text));
    EXPECT_EQ(text, "H:pq");
}

TEST(OutgoingMessage, AProducerThatBreaksItsWordFailsWithoutOvershooting) {
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        bool result;
        std::string handedOver; // of the produced piece, at most
    };
    const std::vector<Case> cases = {
        {"fewer bytes", {"ab"}, true, "ab"},
        {"nothing", {}, true, ""},
        {"more in one piece", {"abcdef"}, true, ""},
        {"more in a later piece", {"abcd", "ef"}, true, "abcd"},
        {"one byte too many", {"abc", "d", "e"}, true, "abcd"},
        {"all, then a failure", {"abcd"}, false, "abcd"},
        {"a failure on the way", {"a"}, false, "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OutgoingMessage message;
        message.append("<");
        message.appendProduced(4, giving(c.pieces, c.result));
        message.append(">");
        const Written out = writeOut(message);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.bytes, "<" + c.handedOver);
        EXPECT_LE(out.bytes.size(), 1u + 4u);
        std::string text;
        EXPECT_FALSE(message.toText(text));
    }
}

TEST(OutgoingMessage, ARefusingSinkEndsTheWrite) {
    int runs = 0;
    OutgoingMessage message;
    message.append("head");
    message.appendProduced(6, [&runs](const ByteSink& sink) {
        ++runs;
        for (char c : std::string("abcdef"))
            if (!sink(&c, 1)) return false;
        return true;
    });
    message.append("tail");
    ASSERT_EQ(message.size(), 14u);

    // Refused in the text before the producer: it never runs.
    Written out = writeOut(message, 3);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(runs, 0);
    // Refused inside the produced piece: the producer stops there.
    out = writeOut(message, 7);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.bytes, "headabc");
    EXPECT_EQ(runs, 1);
    // Refused in the last text.
    out = writeOut(message, 13);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.bytes, "headabcdef");
    // Taken whole.
    out = writeOut(message, 14);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.bytes, "headabcdeftail");
}

} // namespace
} // namespace plx
