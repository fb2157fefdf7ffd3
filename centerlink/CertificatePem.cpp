#include "centerlink/CertificatePem.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "platform/PendingFile.h"

namespace plx {

namespace {

constexpr std::string_view kRequestBegin = "-----BEGIN CERTIFICATE REQUEST-----";
constexpr std::string_view kRequestEnd = "-----END CERTIFICATE REQUEST-----";
constexpr std::string_view kCertBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kCertEnd = "-----END CERTIFICATE-----";

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct NameDeleter {
    void operator()(X509_NAME* name) const { X509_NAME_free(name); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using CertPtr = std::unique_ptr<X509, X509Deleter>;
using NamePtr = std::unique_ptr<X509_NAME, NameDeleter>;

// OpenSSL keeps its reason in its own error queue, not in errno.
[[noreturn]] void failOpenSsl(const std::string& what) {
    unsigned long error = ERR_get_error();
    ERR_clear_error();
    const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr;
    throw std::runtime_error(what + ": " + (reason ? reason : "no reason given"));
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

// Secrets must never be readable by others, whatever the umask or an older
// file's mode says.
void writePrivateFile(const std::string& path, const std::string& text) { replaceFileText(path, text, 0600); }

// ---- subject -----------------------------------------------------------

using SubjectEntries = std::vector<std::pair<std::string, std::string>>;

SubjectEntries parseSubject(std::string_view text) {
    SubjectEntries entries;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        std::size_t equals = text.find('=', at);
        std::size_t comma = text.find(',', at);
        if (equals == std::string_view::npos || equals > comma) { // no key=value here
            if (comma == std::string_view::npos) break;
            at = comma + 1;
            continue;
        }
        std::string key(text.substr(at, equals - at));
        std::size_t start = equals + 1;
        std::size_t next;
        std::string value;
        if (start < text.size() && text[start] == '"') {
            std::size_t close = text.find('"', start + 1);
            value = text.substr(start + 1, close == std::string_view::npos ? close : close - start - 1);
            next = close == std::string_view::npos ? close : text.find(',', close + 1);
        } else {
            next = text.find(',', start);
            value = text.substr(start, next == std::string_view::npos ? next : next - start);
        }
        entries.emplace_back(std::move(key), std::move(value));
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    return entries;
}

const char* entryField(const std::string& key) {
    if (key == "C") return "countryName";
    if (key == "O") return "organizationName";
    if (key == "OU") return "organizationalUnitName";
    if (key == "CN") return "commonName";
    return nullptr;
}

bool isPrintableString(const std::string& value) {
    for (unsigned char c : value)
        if (!std::isalnum(c) && std::string_view(" '()+,-./:=?").find(static_cast<char>(c)) == std::string_view::npos)
            return false;
    return true;
}

// PrintableString keeps the bytes older terminals sent; OpenSSL 3 would
// otherwise choose UTF8String.
NamePtr makeName(std::string_view subject) {
    NamePtr name(X509_NAME_new());
    if (!name) failOpenSsl("subject");
    for (const auto& [key, value] : parseSubject(subject)) {
        const char* field = entryField(key);
        if (!field) continue;
        int type = isPrintableString(value) ? V_ASN1_PRINTABLESTRING : MBSTRING_UTF8;
        const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
        if (X509_NAME_add_entry_by_txt(name.get(), field, type, bytes, static_cast<int>(value.size()), -1, 0) != 1)
            failOpenSsl("subject entry " + key);
    }
    return name;
}

// ---- certificate from the reply -----------------------------------------

std::string stripWhitespace(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    return out;
}

// The Base64 body of the reply's certificate text, markers or not.
std::optional<std::string> certificateBody(std::string_view text) {
    std::size_t begin = text.find(kCertBegin);
    if (begin != std::string_view::npos) {
        text.remove_prefix(begin + kCertBegin.size());
        std::size_t end = text.find(kCertEnd);
        if (end == std::string_view::npos) return std::nullopt;
        text = text.substr(0, end);
    }
    std::string body = stripWhitespace(text);
    if (body.empty()) return std::nullopt;
    return body;
}

std::string wrapPem(const std::string& body) {
    std::string pem = std::string(kCertBegin) + "\n";
    for (std::size_t at = 0; at < body.size(); at += 64) pem += body.substr(at, 64) + "\n";
    return pem + std::string(kCertEnd) + "\n";
}

} // namespace

std::optional<std::string> usableCertificate(std::string_view replyText, EVP_PKEY* key) {
    auto body = certificateBody(replyText);
    if (!body) return std::nullopt;
    std::string pem = wrapPem(*body);
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    CertPtr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert || X509_check_private_key(cert.get(), key) != 1) return std::nullopt;
    return pem;
}

// ---- request text ---------------------------------------------------------

std::optional<std::string> requestBody(const std::string& pem) {
    std::size_t begin = pem.find(kRequestBegin);
    if (begin == std::string::npos) return std::nullopt;
    std::size_t at = begin + kRequestBegin.size();
    while (at < pem.size() && pem[at] == '\r') ++at;
    while (at < pem.size() && pem[at] == '\n') ++at;
    std::size_t end = pem.find(kRequestEnd, at);
    if (end == std::string::npos) return std::nullopt;
    return pem.substr(at, end - at);
}

KeyPtr makeKey(int bits) {
    if (bits <= 0) throw std::invalid_argument("no key size");
    KeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits))); // exponent 65537
    if (!key) failOpenSsl("key");
    return key;
}

RequestPtr makeRequest(EVP_PKEY* key, const std::string& subject) {
    if (!key) throw std::invalid_argument("no key");
    RequestPtr request(X509_REQ_new());
    if (!request) failOpenSsl("request");
    NamePtr name = makeName(subject);
    if (X509_REQ_set_version(request.get(), 0) != 1 || X509_REQ_set_subject_name(request.get(), name.get()) != 1 ||
        X509_REQ_set_pubkey(request.get(), key) != 1)
        failOpenSsl("request");
    if (X509_REQ_sign(request.get(), key, EVP_sha256()) <= 0) failOpenSsl("request signature");
    return request;
}

void writeRequestPem(X509_REQ* request, const std::string& path) {
    if (!request || path.empty()) throw std::invalid_argument("no request or no path");
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509_REQ(bio.get(), request) != 1) failOpenSsl("request not encoded");
    writePrivateFile(path, bioText(bio.get()));
}

void writeKeyPem(EVP_PKEY* key, const std::string& path, const char* passPhrase) {
    if (!key || path.empty()) throw std::invalid_argument("no key or no path");
    BioPtr bio(BIO_new(BIO_s_mem()));
    const EVP_CIPHER* cipher = passPhrase ? EVP_des_ede3_cbc() : nullptr;
    auto* phrase = reinterpret_cast<unsigned char*>(const_cast<char*>(passPhrase));
    int phraseLength = passPhrase ? static_cast<int>(std::strlen(passPhrase)) : 0;
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, cipher, phrase, phraseLength, nullptr, nullptr) != 1)
        failOpenSsl("key not encoded");
    writePrivateFile(path, bioText(bio.get()));
}

} // namespace plx
