#include "common/XmlWriter.h"

#include <cerrno>
#include <fcntl.h>
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

bool XmlWriter::open(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) return false;
    fd_ = std::move(fd);
    path_ = path;
    return true;
}

void XmlWriter::write(std::string_view text) {
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
    UniqueFd source(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return;
    writeStartTag(name);
    std::vector<char> block(1 << 16);
    for (;;) {
        ssize_t n = readSome(source.get(), block.data(), block.size());
        if (n < 0) {
            throw std::system_error(errno, std::generic_category(), "read " + path.string());
        }
        if (n == 0) break;
        write(std::string_view(block.data(), static_cast<std::size_t>(n)));
    }
    writeEndTag(name);
}

void XmlWriter::writeEndTag(std::string_view name) { write("</" + std::string(name) + ">"); }

void XmlWriter::close() {
    if (!fd_) return;
    int fd = fd_.release();
    if (::close(fd) != 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "close " + path_.string());
}

} // namespace plx
