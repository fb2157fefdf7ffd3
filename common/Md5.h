#pragma once
// MD5 digest fed a piece at a time, for data that is hashed while it passes
// through (read once, hashed, compressed and encoded in the same pass).

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace plx {

class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    Md5(Md5&&) noexcept;
    Md5& operator=(Md5&&) noexcept;

    void update(const void* data, std::size_t size);
    // 32 lower-case hex digits of everything given; empty when the digest
    // could not be computed (the library refused MD5). Ends the digest:
    // later calls give empty.
    std::string finishHex();

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
    bool failed_ = false;
};

} // namespace plx
