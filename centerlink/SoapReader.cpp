#include "centerlink/SoapReader.h"

#include <cerrno>
#include <mutex>
#include <sys/stat.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include "platform/Utf8.h"

namespace plx {

using namespace xercesc_3_2;

namespace {

std::string utf8(const XMLCh* text) {
    if (!text) return {};
    TranscodeToStr out(text, "UTF-8");
    return std::string(reinterpret_cast<const char*>(out.str()), out.length());
}

// Any error or warning of the parser ends the parse.
class ThrowingErrors final : public ErrorHandler {
public:
    void warning(const SAXParseException&) override {}
    void error(const SAXParseException& e) override { throw SoapParseError("XML error: " + utf8(e.getMessage())); }
    void fatalError(const SAXParseException& e) override { throw SoapParseError("XML error: " + utf8(e.getMessage())); }
    void resetErrors() override {}
};

// Nothing is loaded from outside the message.
class NoEntities final : public EntityResolver {
public:
    InputSource* resolveEntity(const XMLCh* const, const XMLCh* const) override {
        throw SoapParseError("external entity refused");
    }
};

// SOAP messages carry no document type; one with a DOCTYPE could declare
// entities that pull in local files or expand without bound.
class StrictParser final : public XercesDOMParser {
public:
    void doctypeDecl(const DTDElementDecl&, const XMLCh* const, const XMLCh* const, const bool, const bool) override {
        throw SoapParseError("DOCTYPE refused");
    }
};

bool nameMatches(const DOMElement* element, std::string_view name) {
    return equalsIgnoreCase(utf8(element->getTagName()), name);
}

} // namespace

void initializeXml() {
    static std::once_flag once;
    std::call_once(once, [] { XMLPlatformUtils::Initialize(); });
}

std::string SoapElement::name() const { return utf8(element_->getTagName()); }

std::optional<SoapElement> SoapElement::child(std::string_view name) const {
    for (const DOMElement* e = element_->getFirstElementChild(); e; e = e->getNextElementSibling())
        if (nameMatches(e, name)) return SoapElement(e);
    return std::nullopt;
}

std::vector<SoapElement> SoapElement::children() const {
    std::vector<SoapElement> out;
    for (const DOMElement* e = element_->getFirstElementChild(); e; e = e->getNextElementSibling()) out.emplace_back(e);
    return out;
}

std::string SoapElement::text() const { return utf8Sanitize(utf8(element_->getTextContent())); }

std::string SoapElement::childText(std::string_view name) const {
    auto c = child(name);
    return c ? c->text() : std::string();
}

SoapDocument::SoapDocument() = default;
SoapDocument::SoapDocument(SoapDocument&&) noexcept = default;
SoapDocument& SoapDocument::operator=(SoapDocument&&) noexcept = default;
SoapDocument::~SoapDocument() = default;

SoapDocument SoapDocument::parseFile(const std::filesystem::path& file, std::size_t maxBytes) {
    initializeXml();
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) throw SoapParseError("no message file", errno);
    if (!S_ISREG(st.st_mode)) throw SoapParseError("no message file");
    if (static_cast<std::size_t>(st.st_size) > maxBytes) throw SoapParseError("message too large");

    SoapDocument doc;
    auto parser = std::make_unique<StrictParser>();
    parser->setValidationScheme(XercesDOMParser::Val_Never);
    parser->setDoNamespaces(false);
    parser->setDoSchema(false);
    parser->setLoadExternalDTD(false);
    parser->setDisableDefaultEntityResolution(true);
    parser->setCreateEntityReferenceNodes(false);
    ThrowingErrors errors;
    NoEntities entities;
    parser->setErrorHandler(&errors);
    parser->setEntityResolver(&entities);
    try {
        XMLCh* path = XMLString::transcode(file.c_str());
        LocalFileInputSource source(path);
        XMLString::release(&path);
        parser->parse(source);
    } catch (const SoapParseError&) {
        throw;
    } catch (const XMLException& e) {
        throw SoapParseError("XML error: " + utf8(e.getMessage()));
    } catch (const DOMException& e) {
        throw SoapParseError("DOM error: " + utf8(e.getMessage()));
    }
    parser->setErrorHandler(nullptr);
    parser->setEntityResolver(nullptr);
    doc.parser_ = std::move(parser);
    return doc;
}

std::optional<SoapElement> SoapDocument::root() const {
    DOMDocument* document = parser_ ? parser_->getDocument() : nullptr;
    DOMElement* element = document ? document->getDocumentElement() : nullptr;
    if (!element) return std::nullopt;
    return SoapElement(element);
}

std::optional<SoapElement> SoapDocument::body() const {
    auto top = root();
    return top ? top->child("SOAP-ENV:Body") : std::nullopt;
}

std::optional<SoapElement> SoapDocument::method(std::initializer_list<std::string_view> names) const {
    auto content = body();
    if (!content) return std::nullopt;
    for (const SoapElement& e : content->children())
        for (std::string_view name : names)
            if (equalsIgnoreCase(e.name(), name)) return e;
    return std::nullopt;
}

} // namespace plx
