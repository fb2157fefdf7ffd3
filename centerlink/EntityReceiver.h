#pragma once
// Takes a received SOAP message in as it arrives and moves the Base64 text
// of its Entity element out of it on the way: the text is decoded, expanded
// when it travels gzip-compressed, hashed and written to the file chosen for
// it, and the message is kept as a small file with that file's path in place
// of the text, to be parsed as a document however large the body is.
//
// The rules: the start tag ("<Entity" and the next ">") must lie within
// the first 2047 bytes of the message, the text ends at the first "</"
// within its last 2047 bytes, and the text must be Base64. A message where this fails is kept as it came when it is
// small enough to be parsed at all (see keepWhole), else it is given as an empty file, which no parse accepts.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "centerlink/HttpReceiver.h"
#include "common/Base64Stream.h"
#include "common/PlainDataWriter.h"
#include "platform/TempFile.h"

namespace plx {

// The File values that come before the Entity start tag, as their text.
// A value is missing when it is not there, or when the message does not
// read plainly enough there (comments, entity references, unusual nesting)
// to be sure that parsing the whole message finds the same.
struct EntityHead {
    std::optional<std::string> length;
    std::optional<std::string> compressFlag;
};

// What becomes of the decoded text.
struct EntityPlan {
    int fd = -1;                // where the (expanded) data goes; -1: nowhere
    std::filesystem::path path; // that file, named in the message in place of the text
    bool expand = false;        // the data is gzip: expanded on the way
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max(); // the most an expansion may give
};

// Chooses the plan once the head of the message is in; called at most once.
using EntityPlanner = std::function<EntityPlan(const EntityHead&)>;

struct EntityOutcome {
    bool extracted = false; // the text was within reach and was Base64
    EntityPlan plan;        // what was done with it
    // Of the data written, once extracted without a failure; else empty.
    std::string md5;
    std::uint64_t bytesOut = 0;
    PlainDataWriter::Error failure; // with the errno of a failed write to the plan's file
};

class EntityReceiver final : public BodyReader {
public:
    // The message file goes into messageFolder (the system temporary folder
    // when empty); a message of up to keepWhole bytes is also kept as it
    // came, for when the extraction fails.
    explicit EntityReceiver(EntityPlanner planner, std::filesystem::path messageFolder = {},
                            std::size_t keepWhole = std::size_t{1} << 20);
    ~EntityReceiver() override;

    bool begin(std::int64_t contentLength) override;
    bool take(const char* data, std::size_t size) override;
    // The message file (the caller owns it); empty when it cannot be written.
    std::filesystem::path finish() override;
    int fileError() const override { return fileError_; }

    const EntityOutcome& outcome() const { return outcome_; }

    // A message already in a file, taken in the same way.
    std::filesystem::path receiveFile(const std::filesystem::path& message);

private:
    enum class State { Head, Text, Failed };

    void resolveHead();
    void route(const char* data, std::size_t size);
    bool finishText();

    EntityPlanner planner_;
    std::filesystem::path messageFolder_;
    std::size_t keepWhole_;

    State state_ = State::Head;
    std::uint64_t total_ = 0;
    std::uint64_t offset_ = 0; // of the next byte taken
    std::string head_;         // the first bytes, up to the window
    std::size_t headWant_ = 0;
    std::size_t textBegin_ = 0;   // just after the start tag's ">"
    std::uint64_t tailBegin_ = 0; // the last window, where the closing tag is looked for
    std::string tail_;
    std::string whole_; // the message as it came, when small
    bool keptWhole_ = false;

    std::unique_ptr<PlainDataWriter> writer_;
    std::unique_ptr<Base64Decoder> decoder_;
    EntityOutcome outcome_;
    int fileError_ = 0; // of the message file
};

// The File values ahead of the start tag; head is the message up to it.
EntityHead scanEntityHead(std::string_view head);

} // namespace plx
