#include "common/GzipInflater.h"

#include <algorithm>
#include <utility>
#include <zlib.h>

namespace plx {

namespace {

constexpr std::size_t kOutBlock = 64 * 1024;
constexpr unsigned char kMagic0 = 0x1f;
constexpr unsigned char kMagic1 = 0x8b;
constexpr int kGzipOnly = 15 + 16;

} // namespace

struct GzipInflater::Stream {
    z_stream zs{};
    bool ready = false;
    ~Stream() {
        if (ready) inflateEnd(&zs);
    }
};

GzipInflater::GzipInflater(ByteSink sink, std::uint64_t maxOutputBytes)
    : sink_(std::move(sink)), limit_(maxOutputBytes) {}

GzipInflater::~GzipInflater() = default;

bool GzipInflater::fail(Failure why) {
    if (failure_ == Failure::None) failure_ = why;
    return false;
}

bool GzipInflater::deliver(const void* data, std::size_t size) {
    if (size == 0) return true;
    if (size > limit_ - bytesOut_) return fail(Failure::TooLarge);
    if (!sink_(data, size)) return fail(Failure::Sink);
    bytesOut_ += size;
    return true;
}

bool GzipInflater::startMember() {
    if (!stream_) stream_ = std::make_unique<Stream>();
    if (!stream_->ready) {
        if (inflateInit2(&stream_->zs, kGzipOnly) != Z_OK) return fail(Failure::Corrupt);
        stream_->ready = true;
    } else if (inflateReset(&stream_->zs) != Z_OK) {
        return fail(Failure::Corrupt);
    }
    if (out_.empty()) out_.resize(kOutBlock);
    mode_ = Mode::Inflate;
    return true;
}

// Inflates from data until it is used up or the member ends; advances data
// and size past what was consumed.
bool GzipInflater::inflateSome(const unsigned char*& data, std::size_t& size) {
    z_stream& zs = stream_->zs;
    while (size > 0) {
        // avail_in is 32 bits wide.
        const std::size_t slice = std::min<std::size_t>(size, 1u << 30);
        zs.next_in = const_cast<unsigned char*>(data);
        zs.avail_in = static_cast<uInt>(slice);
        int rc = Z_OK;
        do {
            zs.next_out = out_.data();
            zs.avail_out = static_cast<uInt>(out_.size());
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return fail(Failure::Corrupt);
            if (!deliver(out_.data(), out_.size() - zs.avail_out)) return false;
        } while (rc == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0));
        const std::size_t used = slice - zs.avail_in;
        data += used;
        size -= used;
        if (rc == Z_STREAM_END) {
            // What follows a member decides between another member and
            // trailing bytes that are ignored.
            mode_ = Mode::AfterMember;
            leadCount_ = 0;
            return true;
        }
        if (used == 0) return fail(Failure::Corrupt);
    }
    return true;
}

bool GzipInflater::write(const void* data, std::size_t size) {
    if (failure_ != Failure::None) return false;
    const auto* in = static_cast<const unsigned char*>(data);
    while (size > 0) {
        switch (mode_) {
        case Mode::Pass: return deliver(in, size);
        case Mode::Ignore: return true;
        case Mode::Inflate:
            if (!inflateSome(in, size)) return false;
            break;
        case Mode::Detect:
        case Mode::AfterMember: {
            lead_[leadCount_++] = *in++;
            --size;
            if (leadCount_ < 2) break;
            const bool magic = lead_[0] == kMagic0 && lead_[1] == kMagic1;
            if (magic) {
                const unsigned char* lead = lead_;
                std::size_t leadSize = 2;
                if (!startMember() || !inflateSome(lead, leadSize)) return false;
            } else if (mode_ == Mode::Detect) {
                mode_ = Mode::Pass;
                if (!deliver(lead_, 2)) return false;
            } else {
                mode_ = Mode::Ignore;
            }
            break;
        }
        }
    }
    return true;
}

bool GzipInflater::finish() {
    if (failure_ != Failure::None) return false;
    switch (mode_) {
    case Mode::Detect: return deliver(lead_, leadCount_); // zero or one byte: not gzip
    case Mode::Inflate: return fail(Failure::Truncated);
    case Mode::Pass:
    case Mode::AfterMember:
    case Mode::Ignore: return true;
    }
    return true;
}

} // namespace plx
