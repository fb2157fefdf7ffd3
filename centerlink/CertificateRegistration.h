#pragma once
// The terminal's client certificate: a key pair and a certificate request
// made here, registered with the center ("/regist"), and the certificate it
// returns, kept in the temporary-files folder.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "api/ApiRecords.h"
#include "common/PLException.h"
#include "common/TermInfo.h"

namespace plx {

// Reads the terminal information; false when it cannot.
using TerminalReader = std::function<bool(TerminalRec&)>;

// A registration that failed: code 5, the registration's result as detail
// (1: no connection or no reply; 10: not a registration reply, or no usable
// certificate in it; 99: anything else; or the center's result code) and
// "端末の初期化に失敗したので処理を中止しました". A transfer ends with it as
// its triple, without an API-log or session-log record.
class RegistrationFailure : public PLException {
public:
    explicit RegistrationFailure(std::int32_t result);
};

// Registers the terminal's certificate unless it is there already; throws
// RegistrationFailure when that fails. One registration runs at a time in
// the process. route: the conversation's way to the center; without one,
// plterm.ini's.
void sslRegist(const TerminalReader& readTerminal, const std::optional<CenterRoute>& route = std::nullopt);

// Certificate and key files both exist and are not empty.
bool isSSLEnviroment();

struct EvpKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509ReqDeleter {
    void operator()(X509_REQ* req) const { X509_REQ_free(req); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;
using RequestPtr = std::unique_ptr<X509_REQ, X509ReqDeleter>;

KeyPtr makeKey(int bits);
// Subject text "C=JP,O=QRT,CN=..." (keys C, O, OU, CN); the request is
// signed with key, which OpenSSL needs to write it at all.
RequestPtr makeRequest(EVP_PKEY* key, const std::string& subject);
// PEM files of mode 0600. Throw std::invalid_argument without a request/key
// or path, std::runtime_error when OpenSSL cannot encode it, and
// std::system_error with the errno of the file call that failed.
void writeRequestPem(X509_REQ* request, const std::string& path);
// With a pass phrase the key is encrypted (Triple-DES CBC).
void writeKeyPem(EVP_PKEY* key, const std::string& path, const char* passPhrase = nullptr);

} // namespace plx
