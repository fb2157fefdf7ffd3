#include "centerlink/HttpReceiver.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "centerlink/SocketError.h"
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

ReceivedMessage receiveHttpMessage(Connection& connection, const ReceiveOptions& options) {
    ReceivedMessage result;
    auto fail = [&](ReceiveStatus status) {
        result.status = status;
        result.socketError = socketError();
        return result;
    };
    auto stopped = [&] { return options.stopRequested && options.stopRequested(); };
    // A wait that the session event ended is a stop, not a failure of the peer.
    auto readFailed = [&](ReceiveStatus status) {
        return fail(socketError() == kSessionStopped || stopped() ? ReceiveStatus::Stopped : status);
    };

    std::string text;
    std::vector<char> block(options.blockSize);

    if (stopped()) return fail(ReceiveStatus::Stopped);
    char first = 0;
    setSocketError(0);
    if (connection.read(&first, 1, options.firstByteTimeout) != 1) return readFailed(ReceiveStatus::BadFirstByte);
    if (!isStartByte(first)) return fail(ReceiveStatus::BadFirstByte);
    text.push_back(first);

    ScopedFileRemoval body;
    UniqueFd out;
    std::int64_t received = 0;
    bool headerDone = false;

    for (;;) {
        if (!headerDone) {
            std::size_t sepLength = 0;
            std::size_t end = findHeaderEnd(text, sepLength);
            if (end == std::string::npos) {
                if (text.size() > options.maxHeaderBytes) return fail(ReceiveStatus::BadHeader);
            } else {
                if (end > options.maxHeaderBytes) return fail(ReceiveStatus::BadHeader);
                std::string_view headerBlock(text.data(), end);
                auto length = contentLength(headerBlock);
                if (!length || *length > options.maxBodyBytes) return fail(ReceiveStatus::BadHeader);
                result.contentLength = *length;
                result.headerText = std::string(headerBlock) + "\n\n";
                body = ScopedFileRemoval(makeTempFile(options.bodyFolder));
                if (body.path().empty()) return fail(ReceiveStatus::NoBodyFile);
                out.reset(::open(body.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
                if (!out) return fail(ReceiveStatus::NoBodyFile);
                headerDone = true;
                // Bytes past the announced length belong to no message of ours.
                std::size_t available = text.size() - end - sepLength;
                std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(available, result.contentLength));
                if (!writeAll(out.get(), text.data() + end + sepLength, take)) return fail(ReceiveStatus::NoBodyFile);
                received = static_cast<std::int64_t>(take);
                text.clear();
                text.shrink_to_fit();
            }
        }
        if (headerDone) {
            if (options.onProgress) options.onProgress(received, result.contentLength);
            if (received >= result.contentLength) break;
        }

        if (stopped()) return fail(ReceiveStatus::Stopped);
        std::size_t want = block.size();
        if (headerDone) want = static_cast<std::size_t>(std::min<std::int64_t>(want, result.contentLength - received));
        ssize_t n = connection.read(block.data(), want, options.readTimeout);
        if (n <= 0) return readFailed(ReceiveStatus::ReadFailed);
        if (headerDone) {
            if (!writeAll(out.get(), block.data(), static_cast<std::size_t>(n))) return fail(ReceiveStatus::NoBodyFile);
            received += n;
        } else {
            text.append(block.data(), static_cast<std::size_t>(n));
        }
    }

    if (::close(out.release()) != 0) return fail(ReceiveStatus::NoBodyFile);
    result.bodyFile = body.path();
    body.release();
    result.status = ReceiveStatus::Complete;
    result.socketError = 0;
    return result;
}

} // namespace plx
