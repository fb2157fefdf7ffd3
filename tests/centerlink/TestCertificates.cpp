#include "tests/centerlink/TestCertificates.h"

#include <cstdio>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdexcept>

namespace plx::test {

CertificateFiles makeSelfSignedCertificate(const std::filesystem::path& folder, int bits, const char* commonName) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(static_cast<unsigned>(bits)), EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), X509_free);
    if (!key || !cert) throw std::runtime_error("key or certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) throw std::runtime_error("sign");

    CertificateFiles files{folder / "cert.pem", folder / "key.pem"};
    std::unique_ptr<FILE, decltype(&std::fclose)> c(std::fopen(files.cert.c_str(), "w"), std::fclose);
    std::unique_ptr<FILE, decltype(&std::fclose)> k(std::fopen(files.key.c_str(), "w"), std::fclose);
    if (!c || !k || !PEM_write_X509(c.get(), cert.get()) ||
        !PEM_write_PrivateKey(k.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
        throw std::runtime_error("write PEM");
    return files;
}

} // namespace plx::test
