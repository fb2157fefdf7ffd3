#pragma once
// The terminal's client certificate: a key pair and a certificate request
// made here, registered with the center ("/regist"), and the certificate it
// returns, kept in the temporary-files folder.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "api/ApiRecords.h"
#include "common/TermInfo.h"

namespace plx {

// Reads the terminal information; false when it cannot.
using TerminalReader = std::function<bool(TerminalRec&)>;

// 0 when registered now or before; else 1 (no connection or no reply),
// 10 (not a registration reply, or no usable certificate in it), 99
// (anything else) or the center's result code. One registration runs at a
// time in the process. route: the conversation's way to the center; without
// one, plterm.ini's.
int sslRegist(const TerminalReader& readTerminal, const std::optional<CenterRoute>& route = std::nullopt);

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
int writeRequestPem(X509_REQ* request, const std::string& path);
// Mode 0600; with a pass phrase the key is encrypted (Triple-DES CBC).
int writeKeyPem(EVP_PKEY* key, const std::string& path, const char* passPhrase = nullptr);

} // namespace plx
