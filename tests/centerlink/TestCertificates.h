#pragma once
// Certificates made at test time.

#include <filesystem>

namespace plx::test {

struct CertificateFiles {
    std::filesystem::path cert;
    std::filesystem::path key;
};

// A self-signed RSA certificate and its key as PEM files in folder.
CertificateFiles makeSelfSignedCertificate(const std::filesystem::path& folder, int bits = 1024,
                                           const char* commonName = "localhost");

} // namespace plx::test
