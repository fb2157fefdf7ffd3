#pragma once
// Writes a SOAP message element by element, into a file that lives as long
// as the writer or into an OutgoingMessage held in memory (whose large
// contents are produced only while it is sent). No declaration,
// indentation or line breaks are added.

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/OutgoingMessage.h"
#include "platform/UniqueFd.h"

namespace plx {

class XmlWriter {
public:
    XmlWriter() = default;
    ~XmlWriter(); // deletes the file when one was opened
    XmlWriter(const XmlWriter&) = delete;
    XmlWriter& operator=(const XmlWriter&) = delete;

    // Creates or truncates path; false when it cannot.
    bool open(const std::filesystem::path& path);
    // Appends to message, which must outlive the writer's use.
    void open(OutgoingMessage& message);

    // The writes throw std::system_error when the file cannot take them.
    void writeStartTag(std::string_view name);
    // <name attribute=value>; value is written as given, quotes included.
    void writeStartTagWithAttribute(std::string_view name, std::string_view attribute, std::string_view value);
    // <name>text</name>, with "&", "<" and ">" in text escaped.
    void writeElement(std::string_view name, std::string_view text);
    // <name>content of the file</name>, copied unchanged; nothing at all when
    // the file cannot be opened. Into a message, the file is read while the
    // message is sent.
    void writeFileElement(std::string_view name, const std::filesystem::path& path);
    // <name>size bytes of produce</name>, copied unchanged. Into a file the
    // content is produced at once (a failure throws std::system_error);
    // into a message, while it is sent.
    void writeProducedElement(std::string_view name, std::uint64_t size, OutgoingMessage::Producer produce);
    void writeEndTag(std::string_view name);
    void close();

    const std::filesystem::path& path() const { return path_; }

private:
    void write(std::string_view text);

    UniqueFd fd_;
    std::filesystem::path path_;
    OutgoingMessage* message_ = nullptr;
};

std::string escapeXmlText(std::string_view text);

} // namespace plx
