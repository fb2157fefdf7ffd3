#include "common/XmlWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "platform/FdIo.h"

namespace plx {

std::string escapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

XmlWriter::~XmlWriter() {
    fd_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
}

void XmlWriter::open(OutgoingMessage& message) { message_ = &message; }

bool XmlWriter::open(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) return false;
    fd_ = std::move(fd);
    path_ = path;
    return true;
}

void XmlWriter::write(std::string_view text) {
    if (message_) {
        message_->append(text);
        return;
    }
    if (!fd_) throw std::system_error(EBADF, std::generic_category(), "XmlWriter is not open");
    if (!writeAll(fd_.get(), text.data(), text.size()))
        throw std::system_error(errno, std::generic_category(), "write " + path_.string());
}

void XmlWriter::writeStartTag(std::string_view name) { write("<" + std::string(name) + ">"); }

void XmlWriter::writeStartTagWithAttribute(std::string_view name, std::string_view attribute, std::string_view value) {
    write("<" + std::string(name) + " " + std::string(attribute) + "=" + std::string(value) + ">");
}

void XmlWriter::writeElement(std::string_view name, std::string_view text) {
    std::string tag(name);
    write("<" + tag + ">" + escapeXmlText(text) + "</" + tag + ">");
}

void XmlWriter::writeFileElement(std::string_view name, const std::filesystem::path& path) {
    auto source = std::make_shared<UniqueFd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!*source) return;
    struct stat st {};
    if (::fstat(source->get(), &st) != 0) return;
    auto size = static_cast<std::uint64_t>(st.st_size);
    writeProducedElement(name, size, [source, path, size](const ByteSink& sink) {
        std::vector<char> block(1 << 16);
        std::uint64_t done = 0;
        while (done < size) {
            ssize_t n = readSome(source->get(), block.data(), block.size());
            if (n < 0) throw std::system_error(errno, std::generic_category(), "read " + path.string());
            if (n == 0) return false; // shorter than it was a moment ago
            if (!sink(block.data(), static_cast<std::size_t>(n))) return false;
            done += static_cast<std::uint64_t>(n);
        }
        return true;
    });
}

void XmlWriter::writeProducedElement(std::string_view name, std::uint64_t size, OutgoingMessage::Producer produce) {
    writeStartTag(name);
    if (message_) {
        message_->appendProduced(size, std::move(produce));
    } else {
        std::uint64_t given = 0;
        int error = 0;
        ByteSink toFile = [&](const void* data, std::size_t n) {
            if (n > size - given || !fd_) return false;
            if (!writeAll(fd_.get(), data, n)) {
                error = errno;
                return false;
            }
            given += n;
            return true;
        };
        if (!produce(toFile) || given != size)
            throw std::system_error(error ? error : EIO, std::generic_category(), "write " + path_.string());
    }
    writeEndTag(name);
}

void XmlWriter::writeEndTag(std::string_view name) { write("</" + std::string(name) + ">"); }

void XmlWriter::close() {
    message_ = nullptr;
    if (!fd_) return;
    int fd = fd_.release();
    if (::close(fd) != 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "close " + path_.string());
}

} // namespace plx
