#include "tests/common/TestData.h"

#include <random>
#include <stdexcept>
#include <zlib.h>

namespace plx::test {

std::string mixedData(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        for (int i = 0; i < 4096 && out.size() < size; ++i) out += static_cast<char>(byte(gen));
        for (int i = 0; i < 100 && out.size() < size; ++i)
            out += "2024-05-01 12:00:00 INFO transfer " + std::to_string(out.size()) + " ok\n";
    }
    out.resize(size);
    return out;
}

std::string randomData(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(byte(gen));
    return out;
}

std::string gzipInMemory(const std::string& data) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

std::string gunzipInMemory(const std::string& data) {
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) throw std::runtime_error("inflateInit2");
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char chunk[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - zs.avail_out);
    }
    const uInt left = zs.avail_in;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("inflate");
    if (left != 0) throw std::runtime_error("bytes after the gzip member");
    return out;
}

} // namespace plx::test
