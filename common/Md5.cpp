#include "common/Md5.h"

#include <openssl/evp.h>

namespace plx {

void Md5::Free::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

Md5::Md5() : ctx_(EVP_MD_CTX_new()) { failed_ = !ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) != 1; }

Md5::~Md5() = default;
Md5::Md5(Md5&&) noexcept = default;
Md5& Md5::operator=(Md5&&) noexcept = default;

void Md5::update(const void* data, std::size_t size) {
    if (failed_ || !ctx_) return;
    if (size > 0 && EVP_DigestUpdate(ctx_.get(), data, size) != 1) failed_ = true;
}

std::string Md5::finishHex() {
    if (failed_ || !ctx_) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = EVP_DigestFinal_ex(ctx_.get(), digest, &length) == 1;
    ctx_.reset();
    if (!ok) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

} // namespace plx
