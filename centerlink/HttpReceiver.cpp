#include "centerlink/HttpReceiver.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "centerlink/SocketError.h"
#include "centerlink/SocketIo.h"
#include "common/FileControl.h"
#include "common/HeaderText.h"
#include "platform/FdIo.h"
#include "platform/Numbers.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

bool isStartByte(char c) {
    switch (c) {
    case 'H':
    case 'h':
    case 'G':
    case 'g':
    case 'P':
    case 'p': return true;
    default: return false;
    }
}

std::optional<std::int64_t> contentLength(std::string_view headerBlock) {
    for (const auto& [name, value] : parseHeaders(headerBlock)) {
        std::string_view n = name, v = value;
        while (!n.empty() && (n.back() == ' ' || n.back() == '\t')) n.remove_suffix(1);
        if (!equalsIgnoreCase(n, "content-length")) continue;
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.remove_suffix(1);
        return parseDigits(v);
    }
    return std::nullopt;
}

} // namespace

std::size_t findHeaderEnd(std::string_view text, std::size_t& separatorLength) {
    std::size_t lf = text.find("\n\n");
    std::size_t crlf = text.find("\r\n\r\n");
    if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf)) {
        separatorLength = 4;
        return crlf;
    }
    separatorLength = 2;
    return lf;
}

namespace {

// One message as it comes in: the header text until its end, then the body
// into a temporary file.
class Receiving {
public:
    Receiving(Connection& connection, const ReceiveOptions& options)
        : connection_(connection), options_(options), block_(options.blockSize) {}

    ReceivedMessage run();

private:
    // A failure of no read: no socket error.
    ReceivedMessage fail(ReceiveStatus status, int socketError = 0) {
        result_.status = status;
        result_.socketError = socketError;
        if (status == ReceiveStatus::NoBodyFile && result_.fileError == 0 && options_.reader)
            result_.fileError = options_.reader->fileError();
        return result_;
    }
    // A wait that the session event ended is a stop, not a failure of the peer.
    ReceivedMessage readFailed(ReceiveStatus status, const SocketResult& read) {
        return fail(read.error == kSessionStopped || stopped() ? ReceiveStatus::Stopped : status, read.error);
    }
    bool stopped() const { return options_.stopRequested && options_.stopRequested(); }
    // Complete once the header is whole and the body file open; nullopt
    // while the header is not whole yet; else the failure.
    std::optional<ReceiveStatus> takeHeader();
    bool writeBody(const char* data, std::size_t size) {
        if (options_.reader) return options_.reader->take(data, size);
        if (writeAll(body_.fd(), data, size)) return true;
        result_.fileError = errno;
        return false;
    }
    bool openBody();

    Connection& connection_;
    const ReceiveOptions& options_;
    ReceivedMessage result_;
    std::vector<char> block_;
    std::string text_; // the header so far
    OpenTempFile body_;
    std::int64_t received_ = 0;
    bool headerDone_ = false;
};

std::optional<ReceiveStatus> Receiving::takeHeader() {
    std::size_t sepLength = 0;
    std::size_t end = findHeaderEnd(text_, sepLength);
    if (end == std::string::npos) {
        if (text_.size() > options_.maxHeaderBytes) return ReceiveStatus::BadHeader;
        return std::nullopt;
    }
    if (end > options_.maxHeaderBytes) return ReceiveStatus::BadHeader;
    std::string_view headerBlock(text_.data(), end);
    auto length = contentLength(headerBlock);
    if (!length || *length > options_.maxBodyBytes) return ReceiveStatus::BadHeader;
    result_.contentLength = *length;
    result_.headerText = std::string(headerBlock) + "\n\n";
    if (!openBody()) return ReceiveStatus::NoBodyFile;
    headerDone_ = true;
    // Bytes past the announced length belong to no message of ours.
    auto available = static_cast<std::int64_t>(text_.size() - end - sepLength);
    auto take = static_cast<std::size_t>(std::min(available, result_.contentLength));
    if (!writeBody(text_.data() + end + sepLength, take)) return ReceiveStatus::NoBodyFile;
    received_ = static_cast<std::int64_t>(take);
    text_.clear();
    text_.shrink_to_fit();
    return ReceiveStatus::Complete;
}

bool Receiving::openBody() {
    if (options_.reader) return options_.reader->begin(result_.contentLength);
    try {
        body_ = makeOpenTempFile(options_.bodyFolder);
    } catch (const std::system_error& e) {
        result_.fileError = e.code().value();
        return false;
    }
    return true;
}

ReceivedMessage Receiving::run() {
    if (stopped()) return fail(ReceiveStatus::Stopped);
    char first = 0;
    if (SocketResult read = connection_.read(&first, 1, options_.firstByteTimeout); read.count != 1)
        return readFailed(ReceiveStatus::BadFirstByte, read);
    if (!isStartByte(first)) return fail(ReceiveStatus::BadFirstByte);
    text_.push_back(first);
    WaitDeadline whole(options_.wholeTimeout);

    for (;;) {
        if (!headerDone_) {
            std::optional<ReceiveStatus> header = takeHeader();
            if (header && *header != ReceiveStatus::Complete) return fail(*header);
        }
        if (headerDone_) {
            if (options_.onProgress) options_.onProgress(received_, result_.contentLength);
            if (received_ >= result_.contentLength) break;
        }
        if (stopped()) return fail(ReceiveStatus::Stopped);
        std::size_t want = block_.size();
        if (headerDone_)
            want =
                static_cast<std::size_t>(std::min(static_cast<std::int64_t>(want), result_.contentLength - received_));
        SocketResult read = connection_.read(block_.data(), want, options_.readTimeout);
        if (!read.gotBytes()) return readFailed(ReceiveStatus::ReadFailed, read);
        ssize_t n = read.count;
        if (!headerDone_) {
            text_.append(block_.data(), static_cast<std::size_t>(n));
        } else {
            if (!writeBody(block_.data(), static_cast<std::size_t>(n))) return fail(ReceiveStatus::NoBodyFile);
            received_ += n;
        }
    }

    if (options_.reader) {
        result_.bodyFile = options_.reader->finish();
        if (result_.bodyFile.empty()) return fail(ReceiveStatus::NoBodyFile);
    } else {
        if (!body_.close()) {
            result_.fileError = errno;
            return fail(ReceiveStatus::NoBodyFile);
        }
        result_.bodyFile = body_.keep();
    }
    result_.status = ReceiveStatus::Complete;
    result_.socketError = 0;
    return result_;
}

} // namespace

ReceivedMessage receiveHttpMessage(Connection& connection, const ReceiveOptions& options) {
    return Receiving(connection, options).run();
}

int recordedReceiveError(const ReceivedMessage& message) {
    switch (message.status) {
    case ReceiveStatus::Stopped: return kSessionStopped;
    case ReceiveStatus::BadFirstByte:
        return message.socketError == kSocketTimeoutMarker ? 0 : recordedSocketError(message.socketError);
    case ReceiveStatus::ReadFailed: return recordedSocketError(message.socketError);
    default: return 0;
    }
}

} // namespace plx
