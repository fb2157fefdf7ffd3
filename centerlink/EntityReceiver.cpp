#include "centerlink/EntityReceiver.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#include "common/FileControl.h"
#include "common/XmlWriter.h"
#include "platform/FdIo.h"
#include "platform/PageBuffer.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

// The tags must lie within this many bytes of the start and of the end.
constexpr std::size_t kWindow = 2047;
constexpr std::size_t kFileBlock = 256 * 1024;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One open element of the head and what is known of its place.
struct OpenElement {
    std::string name;
    std::size_t children = 0;       // element children begun so far
    std::size_t bodies = 0;         // of them named SOAP-ENV:Body
    std::size_t files = 0;          // of them named File
    bool expected = false;          // where the reader of the whole message looks
    std::string* capture = nullptr; // a value being read
};

// Reads the head as a plain tree of elements: no comments, declarations
// past the first, processing instructions, CDATA or entity references.
class HeadScan {
public:
    explicit HeadScan(std::string_view text) : text_(text) {}

    EntityHead run() {
        skipProlog();
        while (pos_ < text_.size()) {
            std::size_t lt = text_.find('<', pos_);
            if (!takeText(text_.substr(pos_, (lt == std::string_view::npos ? text_.size() : lt) - pos_))) return {};
            if (lt == std::string_view::npos) break;
            pos_ = lt;
            if (!takeTag()) return {};
        }
        // The start tag that follows must open the Entity of the File that
        // the reader finds: root, its first body, the body's first element,
        // that element's first File.
        if (stack_.size() != 4 ||
            !std::all_of(stack_.begin() + 1, stack_.end(), [](const OpenElement& e) { return e.expected; }))
            return {};
        EntityHead head;
        if (!lengthAmbiguous_ && length_) head.length = *length_;
        if (!flagAmbiguous_ && flag_) head.compressFlag = *flag_;
        return head;
    }

private:
    void skipProlog() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        if (text_.substr(pos_, 5) == "<?xml") {
            std::size_t end = text_.find("?>", pos_);
            pos_ = end == std::string_view::npos ? text_.size() : end + 2;
        }
    }

    bool takeText(std::string_view text) {
        if (text.empty()) return true;
        if (!stack_.empty() && stack_.back().capture) {
            if (text.find('&') != std::string_view::npos) return markAmbiguous();
            stack_.back().capture->append(text);
            return true;
        }
        // Text outside the root is no document.
        return !stack_.empty() || std::all_of(text.begin(), text.end(), isBlank);
    }

    bool markAmbiguous() {
        if (stack_.back().capture == &lengthText_) lengthAmbiguous_ = true;
        if (stack_.back().capture == &flagText_) flagAmbiguous_ = true;
        stack_.back().capture = nullptr;
        return true;
    }

    bool takeTag() {
        if (pos_ + 1 >= text_.size()) return false;
        char next = text_[pos_ + 1];
        if (next == '!' || next == '?') return false;
        if (next == '/') return endTag();
        return startTag();
    }

    bool endTag() {
        std::size_t gt = text_.find('>', pos_);
        if (gt == std::string_view::npos || stack_.empty()) return false;
        std::string_view name = text_.substr(pos_ + 2, gt - pos_ - 2);
        while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
        if (name != stack_.back().name) return false;
        close();
        pos_ = gt + 1;
        return true;
    }

    bool startTag() {
        std::size_t end = pos_ + 1;
        while (end < text_.size() && !isBlank(text_[end]) && text_[end] != '/' && text_[end] != '>') ++end;
        std::string name(text_.substr(pos_ + 1, end - pos_ - 1));
        // The tag ends at the first ">" outside quotes.
        char quote = 0;
        while (end < text_.size() && (quote || text_[end] != '>')) {
            if (quote && text_[end] == quote)
                quote = 0;
            else if (!quote && (text_[end] == '"' || text_[end] == '\''))
                quote = text_[end];
            ++end;
        }
        if (name.empty() || end >= text_.size()) return false;
        bool empty = text_[end - 1] == '/';
        pos_ = end + 1;
        open(std::move(name));
        if (empty) close();
        return true;
    }

    void open(std::string name) {
        OpenElement element;
        element.name = std::move(name);
        if (!stack_.empty()) {
            OpenElement& parent = stack_.back();
            if (parent.capture) markAmbiguous(); // a value with elements inside
            std::size_t depth = stack_.size();
            if (depth == 1) element.expected = equalsIgnoreCase(element.name, "SOAP-ENV:Body") && parent.bodies == 0;
            if (depth == 2) element.expected = parent.children == 0;
            if (depth == 3) element.expected = equalsIgnoreCase(element.name, "File") && parent.files == 0;
            if (depth == 4) element.capture = valueOf(element.name);
            ++parent.children;
            if (equalsIgnoreCase(element.name, "SOAP-ENV:Body")) ++parent.bodies;
            if (equalsIgnoreCase(element.name, "File")) ++parent.files;
        }
        stack_.push_back(std::move(element));
    }

    // Where the text of a File child is read into; null for other children.
    std::string* valueOf(const std::string& name) {
        std::string* text = nullptr;
        if (equalsIgnoreCase(name, "Length")) {
            if (length_) lengthAmbiguous_ = true; // which one counts is not for this scan to say
            text = &lengthText_;
        } else if (equalsIgnoreCase(name, "CompressFlag")) {
            if (flag_) flagAmbiguous_ = true;
            text = &flagText_;
        }
        if (text) text->clear();
        return text;
    }

    void close() {
        OpenElement element = std::move(stack_.back());
        stack_.pop_back();
        if (element.capture == &lengthText_) length_ = lengthText_;
        if (element.capture == &flagText_) flag_ = flagText_;
        // The values belong to the File they were read in.
        if (stack_.size() == 3) {
            length_.reset();
            flag_.reset();
            lengthAmbiguous_ = flagAmbiguous_ = false;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::vector<OpenElement> stack_;
    std::string lengthText_;
    std::string flagText_;
    std::optional<std::string> length_;
    std::optional<std::string> flag_;
    bool lengthAmbiguous_ = false;
    bool flagAmbiguous_ = false;
};

} // namespace

EntityHead scanEntityHead(std::string_view head) { return HeadScan(head).run(); }

EntityReceiver::EntityReceiver(EntityPlanner planner, fs::path messageFolder, std::size_t keepWhole)
    : planner_(std::move(planner)), messageFolder_(std::move(messageFolder)), keepWhole_(keepWhole) {}

EntityReceiver::~EntityReceiver() = default;

bool EntityReceiver::begin(std::int64_t contentLength) {
    if (contentLength < 0) return false;
    total_ = static_cast<std::uint64_t>(contentLength);
    headWant_ = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, total_));
    keptWhole_ = total_ <= keepWhole_;
    if (keptWhole_) whole_.reserve(static_cast<std::size_t>(total_));
    if (headWant_ == 0) resolveHead();
    return true;
}

bool EntityReceiver::take(const char* data, std::size_t size) {
    if (keptWhole_) whole_.append(data, size);
    while (size > 0) {
        if (state_ == State::Head) {
            std::size_t n = std::min(size, headWant_ - head_.size());
            head_.append(data, n);
            offset_ += n;
            data += n;
            size -= n;
            if (head_.size() == headWant_) resolveHead();
            continue;
        }
        if (state_ == State::Text) route(data, size);
        offset_ += size;
        break;
    }
    return true;
}

// The head is in: find the start tag and plan where the text goes.
void EntityReceiver::resolveHead() {
    std::size_t start = head_.find("<Entity");
    std::size_t close = start == std::string::npos ? std::string::npos : head_.find('>', start);
    if (close == std::string::npos) {
        state_ = State::Failed;
        return;
    }
    textBegin_ = close + 1;
    // The closing tag is the first "</" of the last 2047 bytes after the text begins.
    tailBegin_ = total_ - std::min<std::uint64_t>(kWindow, total_ - textBegin_);
    outcome_.plan = planner_(scanEntityHead(std::string_view(head_).substr(0, start)));
    writer_ = std::make_unique<PlainDataWriter>(outcome_.plan.fd, outcome_.plan.expand, outcome_.plan.limit);
    // A failing file must not make the text look bad: the writer keeps its
    // own failure and the decoder goes on checking the text.
    decoder_ = std::make_unique<Base64Decoder>([this](const void* bytes, std::size_t n) {
        writer_->write(bytes, n);
        return true;
    });
    state_ = State::Text;
    const std::uint64_t headEnd = offset_;
    offset_ = textBegin_;
    route(head_.data() + textBegin_, head_.size() - textBegin_);
    offset_ = headEnd;
}

// Text bytes at offset_: those before the last window are decoded at once,
// the window is kept until the closing tag can be found in it.
void EntityReceiver::route(const char* data, std::size_t size) {
    if (offset_ < tailBegin_) {
        auto now = static_cast<std::size_t>(std::min<std::uint64_t>(size, tailBegin_ - offset_));
        if (!decoder_->write(data, now)) state_ = State::Failed;
        data += now;
        size -= now;
    }
    if (state_ == State::Text) tail_.append(data, size);
}

bool EntityReceiver::finishText() {
    std::size_t close = tail_.find("</");
    if (close == std::string::npos) return false;
    if (!decoder_->write(tail_.data(), close) || !decoder_->finish()) return false;
    writer_->finish();
    tail_.erase(0, close);
    outcome_.md5 = writer_->md5();
    // A count of data cut short is no size: only whole data has one.
    outcome_.bytesOut = outcome_.md5.empty() ? 0 : writer_->bytesOut();
    outcome_.failure = writer_->error();
    return true;
}

fs::path EntityReceiver::finish() {
    if (state_ == State::Head) resolveHead(); // a body shorter than announced
    outcome_.extracted = state_ == State::Text && finishText();
    OpenTempFile message;
    try {
        message = makeOpenTempFile(messageFolder_);
    } catch (const std::system_error& e) {
        fileError_ = e.code().value();
        return {};
    }
    bool written = true;
    if (outcome_.extracted) {
        const std::string pathText = escapeXmlText(outcome_.plan.path.string());
        written = writeAll(message.fd(), head_.data(), textBegin_) &&
                  writeAll(message.fd(), pathText.data(), pathText.size()) &&
                  writeAll(message.fd(), tail_.data(), tail_.size());
    } else if (keptWhole_) {
        written = writeAll(message.fd(), whole_.data(), whole_.size());
    }
    // Otherwise empty: a message too large to parse whole.
    if (!written || !message.close()) {
        fileError_ = errno;
        return {};
    }
    return message.keep();
}

fs::path EntityReceiver::receiveFile(const fs::path& messageFile) {
    UniqueFd in(::open(messageFile.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in || ::fstat(in.get(), &st) != 0 || !begin(st.st_size)) return {};
    PageBuffer block(kFileBlock);
    std::uint64_t left = total_;
    while (left > 0) {
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.capacity()));
        ssize_t n = readSome(in.get(), block.data(), want);
        if (n <= 0) return {};
        take(reinterpret_cast<const char*>(block.data()), static_cast<std::size_t>(n));
        left -= static_cast<std::uint64_t>(n);
    }
    return finish();
}

} // namespace plx
