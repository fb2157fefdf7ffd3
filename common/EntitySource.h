#pragma once
// A file to send as the Entity of a message: the MD5 digest and length of
// its plain data, known before the message starts, and its Base64 text (of
// the gzip stream when it travels compressed), produced while the message
// is sent.
//
// The file is read once for the digest and the compression together; the
// compression runs on every core (ParallelGzip) into a temporary file,
// written through the descriptor that made it, because the message's length
// must be known before its first byte. A plain file is read a second time
// for its text, straight into the message; if it changed in between, the
// text fails before the message is complete, so no data goes out that its
// digest does not describe.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

#include "common/ByteSink.h"
#include "common/OutgoingMessage.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

class EntitySource : public std::enable_shared_from_this<EntitySource> {
public:
    enum class Failure {
        None,
        Read,        // the file could not be read
        TooLarge,    // more than maxSize bytes
        Compression, // the compression failed
        Scratch,     // the temporary file could not be made or written
        Changed,     // the file changed after its digest was taken
    };

    // Why the data cannot go, with the system error behind it (0: none).
    class Error : public std::runtime_error {
    public:
        Error(Failure why, int systemError);
        Failure why() const { return why_; }
        int systemError() const { return systemError_; }

    private:
        Failure why_;
        int systemError_;
    };

    // Reads data (an open regular file, from its start) for the digest and,
    // with compress, the gzip stream into a new temporary file in
    // scratchFolder (the system temporary folder when empty). Throws Error.
    static std::shared_ptr<EntitySource> prepare(UniqueFd data, bool compress,
                                                 const std::filesystem::path& scratchFolder, std::int64_t maxSize);

    const std::string& md5() const { return md5_; }
    std::int64_t size() const { return size_; }     // of the plain data
    bool compressed() const { return compressed_; } // the text is of a gzip stream
    std::uint64_t textSize() const;                 // Base64 characters

    // Hands the text to sink. False when the sink refused, or the data
    // could not be read or had changed (failure() and error() say which).
    bool writeText(const ByteSink& sink);
    // writeText for an OutgoingMessage; keeps this source alive. Data that
    // could not be read or had changed throws ProducerFailure with error().
    OutgoingMessage::Producer producer();

    Failure failure() const { return failure_; }
    int error() const { return error_; }

private:
    EntitySource() = default;
    void readOnce(std::int64_t maxSize, const std::filesystem::path& scratchFolder);
    bool unchanged() const;

    UniqueFd data_;
    struct stat taken_ {}; // the file as it was when its digest was taken
    OpenTempFile packed_;  // the gzip stream, when compressed
    std::uint64_t packedSize_ = 0;
    bool compressed_ = false;
    std::int64_t size_ = 0;
    std::string md5_;
    Failure failure_ = Failure::None;
    int error_ = 0;
};

} // namespace plx
