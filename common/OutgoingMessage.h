#pragma once
// A message to send whose length is known before its first byte goes out:
// texts held in memory, and contents produced only while the message is
// sent (the Base64 text of a file, say). A large body thus goes from its
// file to the socket in one pass, without an intermediate copy on disk.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/ByteSink.h"

namespace plx {

// What a producer throws when it cannot give its content by a fault of its
// own, not the sink's (its file could not be read): the system error behind
// it, 0 when there is none.
class ProducerFailure : public std::runtime_error {
public:
    explicit ProducerFailure(int systemError)
        : std::runtime_error("the content could not be produced"), systemError_(systemError) {}
    int systemError() const { return systemError_; }

private:
    int systemError_;
};

class OutgoingMessage {
public:
    // Hands the content to the sink, exactly as many bytes as announced;
    // false when the sink refused, ProducerFailure when it cannot by itself.
    using Producer = std::function<bool(const ByteSink& sink)>;

    void append(std::string_view text);
    void appendProduced(std::uint64_t size, Producer produce);
    // Puts text before everything appended so far (an HTTP head, once the
    // body's length is known).
    void prepend(std::string_view text);
    // Everything of other, after this message's own pieces.
    void append(OutgoingMessage&& other);

    std::uint64_t size() const { return size_; }
    bool empty() const { return pieces_.empty(); }

    // Hands every byte to sink, in order. False when the sink refused, or a
    // producer failed or gave another length than it announced (the sink
    // never gets more than the announced size). A producer's
    // ProducerFailure goes on to the caller.
    bool writeTo(const ByteSink& sink) const;
    // The whole message as text (for small messages and tests); false as
    // writeTo.
    bool toText(std::string& out) const;

private:
    struct Piece {
        std::string text;
        std::uint64_t size = 0; // of a produced piece
        Producer produce;       // empty for a text
    };
    std::vector<Piece> pieces_;
    std::uint64_t size_ = 0;
};

} // namespace plx
