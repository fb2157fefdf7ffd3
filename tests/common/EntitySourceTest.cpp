#include "common/EntitySource.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::runCaptured;
using test::TempDir;
using test::writeFile;

constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

UniqueFd openRead(const fs::path& path) { return UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

std::shared_ptr<EntitySource> prepare(const fs::path& file, bool compress, const fs::path& scratch,
                                      std::int64_t maxSize = kNoLimit) {
    try {
        return EntitySource::prepare(openRead(file), compress, scratch, maxSize);
    } catch (const EntitySource::Error& e) {
        ADD_FAILURE() << "failure " << static_cast<int>(e.why()) << ", errno " << e.systemError();
        return nullptr;
    }
}

// Why prepare failed, and the system error with it.
std::pair<EntitySource::Failure, int> refusal(const fs::path& file, bool compress, const fs::path& scratch,
                                              std::int64_t maxSize = kNoLimit) {
    try {
        EntitySource::prepare(openRead(file), compress, scratch, maxSize);
    } catch (const EntitySource::Error& e) {
        return {e.why(), e.systemError()};
    }
    return {EntitySource::Failure::None, 0};
}

std::size_t fileCount(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The text writeText hands over, and whether it completed.
struct Text {
    bool ok = false;
    std::string chars;
};
Text textOf(EntitySource& source) {
    Text text;
    text.ok = source.writeText([&text](const void* data, std::size_t size) {
        text.chars.append(static_cast<const char*>(data), size);
        return true;
    });
    return text;
}

// Standard output of a program that must succeed.
std::string run(const std::vector<std::string>& argv) {
    const test::ProgramRun result = runCaptured(argv);
    EXPECT_EQ(result.exitCode, 0) << argv[0] << ": " << result.err;
    return result.out;
}

TEST(EntitySource, TextDecodesToTheFileAndTheDigestIsMd5sums) {
    const std::size_t kBlock = 128 * 1024; // a compression block
    const std::size_t kRead = 256 * 1024;  // a read of the file
    const std::size_t kGroup = 48 * 1024;  // input of one piece of text
    const std::vector<std::size_t> sizes = {0,      1,          2,          3,      56,         57,
                                            58,     76,         kGroup - 1, kGroup, kGroup + 1, kBlock - 1,
                                            kBlock, kBlock + 1, kRead - 1,  kRead,  kRead + 1,  (3 << 20) + 5};
    TempDir dir;
    fs::create_directory(dir / "scratch");
    const std::string all = test::mixedData(sizes.back(), 19);
    for (std::size_t size : sizes) {
        const fs::path file = dir / "data";
        writeFile(file, std::string_view(all).substr(0, size));
        const std::string md5sum = run({"/usr/bin/md5sum", file.string()}).substr(0, 32);
        for (bool compress : {false, true}) {
            SCOPED_TRACE("size " + std::to_string(size) + (compress ? " compressed" : " plain"));
            auto source = prepare(file, compress, dir / "scratch");
            ASSERT_TRUE(source);
            EXPECT_EQ(source->md5(), md5sum);
            EXPECT_EQ(source->size(), static_cast<std::int64_t>(size));
            EXPECT_EQ(source->compressed(), compress);
            const Text text = textOf(*source);
            ASSERT_TRUE(text.ok);
            EXPECT_EQ(source->failure(), EntitySource::Failure::None);
            EXPECT_EQ(text.chars.size(), source->textSize());
            writeFile(dir / "text", text.chars);
            std::string decoded = run({"/usr/bin/base64", "-d", (dir / "text").string()});
            if (compress) {
                writeFile(dir / "text.gz", decoded);
                decoded = run({"/bin/gzip", "-d", "-c", (dir / "text.gz").string()});
            }
            EXPECT_TRUE(decoded == std::string_view(all).substr(0, size));
            // The same text again: a message may be written more than once.
            EXPECT_TRUE(textOf(*source).chars == text.chars);
            source.reset();
            EXPECT_TRUE(fs::is_empty(dir / "scratch"));
        }
    }
}

TEST(EntitySource, MoreThanTheLimitIsRefused) {
    TempDir dir;
    writeFile(dir / "data", test::mixedData(1000, 3));
    for (bool compress : {false, true}) {
        EXPECT_TRUE(prepare(dir / "data", compress, dir.path(), 1000));
        EXPECT_EQ(refusal(dir / "data", compress, dir.path(), 999).first, EntitySource::Failure::TooLarge);
        EXPECT_EQ(fileCount(dir.path()), 1u); // no temporary file left
    }
}

TEST(EntitySource, NoScratchFolderNoCompressedSource) {
    TempDir dir;
    writeFile(dir / "data", "abc");
    EXPECT_EQ(refusal(dir / "data", true, dir / "missing"), std::make_pair(EntitySource::Failure::Scratch, ENOENT));
    // A plain source needs none.
    EXPECT_TRUE(prepare(dir / "data", false, dir / "missing"));
}

// A plain file is read again for its text: a change in between must fail
// it before the text is complete.
TEST(EntitySource, AFileChangedAfterItsDigestFailsItsText) {
    struct Case {
        const char* what;
        void (*change)(const fs::path&);
    };
    const std::vector<Case> cases = {
        {"appended",
         [](const fs::path& file) {
             UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
             ASSERT_EQ(::write(fd.get(), "more", 4), 4);
         }},
        {"cut short", [](const fs::path& file) { ASSERT_EQ(::truncate(file.c_str(), 1000), 0); }},
        {"rewritten in place, same size, another time",
         [](const fs::path& file) {
             UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
             const std::string other = test::randomData(600000, 99);
             ASSERT_EQ(::pwrite(fd.get(), other.data(), other.size(), 0), static_cast<ssize_t>(other.size()));
             const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
             ASSERT_EQ(::futimens(fd.get(), times), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "data", test::mixedData(600000, 5));
        auto source = prepare(dir / "data", false, dir.path());
        ASSERT_TRUE(source);
        c.change(dir / "data");
        const Text text = textOf(*source);
        EXPECT_FALSE(text.ok);
        EXPECT_EQ(source->failure(), EntitySource::Failure::Changed);
        EXPECT_LT(text.chars.size(), source->textSize());
    }
}

TEST(EntitySource, TheCompressedStreamGoesWithTheSource) {
    TempDir dir;
    const std::string data = test::mixedData(400000, 8);
    writeFile(dir / "data", data);
    fs::create_directory(dir / "scratch");
    auto source = prepare(dir / "data", true, dir / "scratch");
    ASSERT_TRUE(source);
    // Once compressed, the stream stands for the file: a later change is not seen.
    writeFile(dir / "data", "changed");
    OutgoingMessage message;
    message.appendProduced(source->textSize(), source->producer());
    const std::uint64_t textSize = source->textSize();
    source.reset(); // the message keeps it
    EXPECT_FALSE(fs::is_empty(dir / "scratch"));
    std::string text;
    ASSERT_TRUE(message.toText(text));
    EXPECT_EQ(text.size(), textSize);
    writeFile(dir / "text", text);
    writeFile(dir / "data.gz", run({"/usr/bin/base64", "-d", (dir / "text").string()}));
    EXPECT_TRUE(test::gunzipInMemory(readFile(dir / "data.gz")) == data);
    message = OutgoingMessage();
    EXPECT_TRUE(fs::is_empty(dir / "scratch"));
}

} // namespace
} // namespace plx
