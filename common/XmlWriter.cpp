#include "common/XmlWriter.h"

#include <stdexcept>
#include <string>

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

void XmlWriter::open(OutgoingMessage& message) { message_ = &message; }

OutgoingMessage& XmlWriter::message() {
    if (!message_) throw std::logic_error("XmlWriter is not open");
    return *message_;
}

void XmlWriter::writeStartTag(std::string_view name) { message().append("<" + std::string(name) + ">"); }

void XmlWriter::writeStartTagWithAttribute(std::string_view name, std::string_view attribute, std::string_view value) {
    message().append("<" + std::string(name) + " " + std::string(attribute) + "=" + std::string(value) + ">");
}

void XmlWriter::writeElement(std::string_view name, std::string_view text) {
    std::string tag(name);
    message().append("<" + tag + ">" + escapeXmlText(text) + "</" + tag + ">");
}

void XmlWriter::writeProducedElement(std::string_view name, std::uint64_t size, OutgoingMessage::Producer produce) {
    writeStartTag(name);
    message().appendProduced(size, std::move(produce));
    writeEndTag(name);
}

void XmlWriter::writeEndTag(std::string_view name) { message().append("</" + std::string(name) + ">"); }

} // namespace plx
