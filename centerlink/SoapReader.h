#pragma once
// Reading a received SOAP message from a file into a DOM, with nothing
// taken from outside the document: no DTD, no external entities, and a
// document with a DOCTYPE is refused. Element names are compared without
// regard to ASCII case; texts come back as UTF-8.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace xercesc_3_2 {
class DOMElement;
class XercesDOMParser;
} // namespace xercesc_3_2

namespace plx {

class SoapParseError : public std::runtime_error {
public:
    // systemError: the errno of a message file that could not be read; 0
    // for a message that is no document.
    explicit SoapParseError(const std::string& what, int systemError = 0)
        : std::runtime_error(what), systemError_(systemError) {}
    int systemError() const { return systemError_; }

private:
    int systemError_;
};

class SoapElement {
public:
    explicit SoapElement(const xercesc_3_2::DOMElement* element) : element_(element) {}
    std::string name() const;
    // The first child element of that name.
    std::optional<SoapElement> child(std::string_view name) const;
    std::vector<SoapElement> children() const;
    // The text content; empty for an element without text.
    std::string text() const;
    // Text of the named child, empty when it is missing.
    std::string childText(std::string_view name) const;

private:
    const xercesc_3_2::DOMElement* element_;
};

class SoapDocument {
public:
    static constexpr std::size_t kDefaultMaxBytes = 1 << 20;

    // Throws SoapParseError for a file that cannot be read, is larger than
    // maxBytes, is not well-formed, or has a DOCTYPE.
    static SoapDocument parseFile(const std::filesystem::path& file, std::size_t maxBytes = kDefaultMaxBytes);
    SoapDocument(SoapDocument&&) noexcept;
    SoapDocument& operator=(SoapDocument&&) noexcept;
    ~SoapDocument();

    std::optional<SoapElement> root() const;
    // The root's "SOAP-ENV:Body".
    std::optional<SoapElement> body() const;
    // The first element named any of names inside the root's "SOAP-ENV:Body".
    std::optional<SoapElement> method(std::initializer_list<std::string_view> names) const;

private:
    SoapDocument();
    std::unique_ptr<xercesc_3_2::XercesDOMParser> parser_;
};

// Xerces needs one initialisation per process before any parse.
void initializeXml();

} // namespace plx
