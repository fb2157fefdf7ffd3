#pragma once
// Writes a SOAP message element by element into an OutgoingMessage held in
// memory, whose large contents are produced only while it is sent. No
// declaration, indentation or line breaks are added.

#include <cstdint>
#include <string_view>

#include "common/OutgoingMessage.h"

namespace plx {

class XmlWriter {
public:
    // Appends to message, which must outlive the writer's use.
    void open(OutgoingMessage& message);

    // The writes throw std::logic_error when the writer is not open.
    void writeStartTag(std::string_view name);
    // <name attribute=value>; value is written as given, quotes included.
    void writeStartTagWithAttribute(std::string_view name, std::string_view attribute, std::string_view value);
    // <name>text</name>, with "&", "<" and ">" in text escaped.
    void writeElement(std::string_view name, std::string_view text);
    // <name>size bytes of produce</name>, copied unchanged while the
    // message is sent.
    void writeProducedElement(std::string_view name, std::uint64_t size, OutgoingMessage::Producer produce);
    void writeEndTag(std::string_view name);
    void close() { message_ = nullptr; }

private:
    OutgoingMessage& message();

    OutgoingMessage* message_ = nullptr;
};

std::string escapeXmlText(std::string_view text);

} // namespace plx
