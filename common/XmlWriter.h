#pragma once
// Writes a SOAP message element by element into a file that lives as long
// as the writer. No declaration, indentation or line breaks are added.

#include <filesystem>
#include <string_view>

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

    // The writes throw std::system_error when the file cannot take them.
    void writeStartTag(std::string_view name);
    // <name attribute=value>; value is written as given, quotes included.
    void writeStartTagWithAttribute(std::string_view name, std::string_view attribute, std::string_view value);
    // <name>text</name>, with "&", "<" and ">" in text escaped.
    void writeElement(std::string_view name, std::string_view text);
    // <name>content of the file</name>, copied unchanged; nothing at all when
    // the file cannot be opened.
    void writeFileElement(std::string_view name, const std::filesystem::path& path);
    void writeEndTag(std::string_view name);
    void close();

    const std::filesystem::path& path() const { return path_; }

private:
    void write(std::string_view text);

    UniqueFd fd_;
    std::filesystem::path path_;
};

std::string escapeXmlText(std::string_view text);

} // namespace plx
