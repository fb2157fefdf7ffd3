#pragma once
// The X.509 and PEM work of the terminal's certificate: a key pair, a
// certificate request for it, their PEM files, and the certificate a center
// returns.
//
// Failures throw: std::invalid_argument without a key, request or path;
// std::runtime_error with OpenSSL's reason when OpenSSL cannot make or encode
// something; std::system_error with the errno of the file call that failed.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace plx {

struct EvpKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509ReqDeleter {
    void operator()(X509_REQ* req) const { X509_REQ_free(req); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;
using RequestPtr = std::unique_ptr<X509_REQ, X509ReqDeleter>;

// An RSA key of bits bits (exponent 65537).
KeyPtr makeKey(int bits);
// Subject text "C=JP,O=QRT,CN=..." (keys C, O, OU, CN); the request is
// signed with key, which OpenSSL needs to write it at all.
RequestPtr makeRequest(EVP_PKEY* key, const std::string& subject);
// PEM files of mode 0600, written unseen and put in place.
void writeRequestPem(X509_REQ* request, const std::string& path);
// With a pass phrase the key is encrypted (Triple-DES CBC).
void writeKeyPem(EVP_PKEY* key, const std::string& path, const char* passPhrase = nullptr);

// The Base64 text between a request PEM's markers, line breaks kept;
// nullopt when the markers are missing.
std::optional<std::string> requestBody(const std::string& pem);
// The PEM text to store from a reply's certificate text (markers or not),
// only when it is a certificate for key.
std::optional<std::string> usableCertificate(std::string_view replyText, EVP_PKEY* key);

} // namespace plx
