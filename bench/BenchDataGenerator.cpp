// bench_data: the transfer bench's files, the same bytes on every machine.
//
//   bench_data mixed MIB    1 MiB stretches of random bytes and of business
//                           records in turn, random first
//   bench_data records MIB  business records only
//   bench_data random MIB   random bytes only
//
// Writes to standard output. Records are sales lines as a business exports
// them (date, slip number, customer, item, quantity, price, amount, branch,
// clerk), from a fixed seed; random bytes come from another fixed seed.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kStretch = 1 << 20;

// splitmix64: fully specified, so every machine draws the same numbers.
class Draw {
public:
    explicit Draw(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    template <std::size_t N>
    std::string_view pick(const std::string_view (&list)[N]) {
        return list[below(N)];
    }

private:
    std::uint64_t state_;
};

constexpr std::string_view kCustomers[] = {
    "Aoba Trading Co.",  "Hayashi Foods",      "Kitamura Steel",    "Nishida Textiles",  "Ogawa Paper Mill",
    "Sakura Logistics",  "Takeda Electric",    "Umeda Pharmacy",    "Yamamoto Hardware", "Fujii Printing",
    "Ishikawa Motors",   "Kobayashi Farm",     "Matsuda Optical",   "Nakano Ceramics",   "Shimizu Bakery",
    "Tanaka Components", "Watanabe Furniture", "Yoshida Chemicals", "Endo Book Store",   "Hirano Plastics"};
constexpr std::string_view kItems[] = {
    "Steel bolt M8x40",   "Copy paper A4 500",  "LED panel 40W",    "Cotton towel white",
    "Rice 5kg bag",       "Toner cartridge K",  "Cable ties 200mm", "Safety gloves L",
    "Cardboard box 60",   "Hand soap 250ml",    "USB cable 1m",     "Packing tape 48mm",
    "Ballpoint pen blue", "Shelf bracket 30cm", "Mineral water 2L", "Ethanol spray 500ml"};
constexpr std::string_view kBranches[] = {"Sapporo", "Sendai", "Tokyo",     "Yokohama",
                                          "Nagoya",  "Osaka",  "Hiroshima", "Fukuoka"};
constexpr std::string_view kClerks[] = {"Suzuki", "Sato",  "Ito",       "Kato",  "Mori",
                                        "Abe",    "Ikeda", "Hashimoto", "Inoue", "Kimura"};
constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

class Records {
public:
    // Appends records to out until it holds at least size bytes; the record
    // that crosses the end is cut there and goes on in the next stretch.
    void fill(std::string& out, std::size_t size) {
        out.append(carry_);
        carry_.clear();
        while (out.size() < size) {
            std::string line = next();
            const std::size_t room = size - out.size();
            if (line.size() > room) {
                carry_ = line.substr(room);
                line.resize(room);
            }
            out += line;
        }
    }

private:
    std::string next() {
        if (draw_.below(2000) == 0) advanceDay();
        const std::uint64_t customer = draw_.below(std::size(kCustomers));
        const std::uint64_t item = draw_.below(std::size(kItems));
        const std::uint64_t quantity = 1 + draw_.below(draw_.below(4) == 0 ? 500 : 24);
        const std::uint64_t cents = 50 + item * 137 + draw_.below(20000);
        const std::uint64_t amount = quantity * cents;
        const std::string_view branch = draw_.pick(kBranches);
        const std::string_view clerk = draw_.pick(kClerks);
        char text[256];
        const std::uint64_t customerCode = 10000 + customer * 37;
        const std::uint64_t itemCode = 1000 + item * 11;
        std::snprintf(text, sizeof text,
                      "%04d-%02d-%02d,S%08" PRIu64 ",C%05" PRIu64 ",%.*s,P%04" PRIu64 ",%.*s,%" PRIu64 ",%" PRIu64
                      ".%02" PRIu64 ",%" PRIu64 ".%02" PRIu64 ",JPY,%.*s,%.*s\r\n",
                      year_, month_, day_, ++slip_, customerCode, static_cast<int>(kCustomers[customer].size()),
                      kCustomers[customer].data(), itemCode, static_cast<int>(kItems[item].size()), kItems[item].data(),
                      quantity, cents / 100, cents % 100, amount / 100, amount % 100, static_cast<int>(branch.size()),
                      branch.data(), static_cast<int>(clerk.size()), clerk.data());
        return text;
    }
    void advanceDay() {
        if (++day_ <= kDaysInMonth[month_ - 1]) return;
        day_ = 1;
        if (++month_ <= 12) return;
        month_ = 1;
        ++year_;
    }

    Draw draw_{2024};
    std::string carry_;
    std::uint64_t slip_ = 10000000;
    int year_ = 2024, month_ = 1, day_ = 4;
};

void randomStretch(Draw& draw, std::string& out) {
    out.resize(kStretch);
    for (std::size_t i = 0; i < kStretch; i += 8) {
        const std::uint64_t v = draw.next();
        std::memcpy(out.data() + i, &v, 8);
    }
}

bool put(const std::string& text) { return std::fwrite(text.data(), 1, text.size(), stdout) == text.size(); }

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc == 3 ? argv[1] : "";
    const long mib = argc == 3 ? std::atol(argv[2]) : 0;
    if ((mode != "mixed" && mode != "records" && mode != "random") || mib <= 0) {
        std::fprintf(stderr, "usage: bench_data mixed|records|random MIB > FILE\n");
        return 2;
    }
    Draw noise(26);
    Records records;
    std::string stretch;
    for (long i = 0; i < mib; ++i) {
        const bool random = mode == "random" || (mode == "mixed" && i % 2 == 0);
        stretch.clear();
        if (random)
            randomStretch(noise, stretch);
        else
            records.fill(stretch, kStretch);
        if (!put(stretch)) {
            std::perror("bench_data");
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
