#include "centerlink/EntityReceiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <openssl/evp.h>
#include <string>
#include <system_error>
#include <vector>

#include "centerlink/ReceivedEntity.h"
#include "centerlink/SoapReader.h"
#include "platform/UniqueFd.h"
#include "tests/TestSupport.h"
#include "tests/common/TestData.h"

namespace plx {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string md5Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
    return hex;
}

// The text of the system's base64, in lines of lineWidth (0: one line).
std::string base64(const std::string& data, int lineWidth) {
    TempDir dir;
    writeFile(dir / "data", data);
    const test::ProgramRun run =
        test::runCaptured({"/usr/bin/base64", "-w", std::to_string(lineWidth), (dir / "data").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
}

std::string getFileResponse(const std::string& fileValues, const std::string& entityText,
                            const std::string& after = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
           "<GetFileResponse xmlns=\"urn:test\"><ResultCode>0</ResultCode><File>" +
           fileValues + "<Entity>" + entityText + "</Entity>" + after +
           "</File></GetFileResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>\r\n";
}

// One message taken in, in pieces of chunk bytes (0: through receiveFile).
struct Received {
    EntityOutcome outcome;
    int plannerCalls = 0;
    EntityHead head;
    std::string messageFile;  // its content
    std::string entityInFile; // the Entity text when the message file parses
};
Received receive(const std::string& message, std::size_t chunk, EntityPlan plan, const fs::path& folder) {
    Received r;
    EntityReceiver receiver(
        [&](const EntityHead& head) {
            ++r.plannerCalls;
            r.head = head;
            return plan;
        },
        folder);
    fs::path file;
    if (chunk == 0) {
        writeFile(folder / "message.xml", message);
        file = receiver.receiveFile(folder / "message.xml");
        fs::remove(folder / "message.xml");
    } else {
        EXPECT_TRUE(receiver.begin(static_cast<std::int64_t>(message.size())));
        for (std::size_t at = 0; at < message.size(); at += chunk)
            EXPECT_TRUE(receiver.take(message.data() + at, std::min(chunk, message.size() - at)));
        file = receiver.finish();
    }
    EXPECT_FALSE(file.empty());
    r.outcome = receiver.outcome();
    r.messageFile = readFile(file);
    try {
        r.entityInFile = SoapDocument::parseFile(file).method({"GetFileResponse"})->child("File")->childText("Entity");
    } catch (const SoapParseError&) {
        r.entityInFile = "(no document)";
    }
    fs::remove(file);
    return r;
}

UniqueFd createFile(const fs::path& path) {
    return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

TEST(EntityReceiver, TextInAnyPiecesIsDecodedExpandedAndHashedIntoThePlannedFile) {
    TempDir dir;
    const std::string data = test::mixedData(300000, 1);
    const std::string packed = test::gzipInMemory(data);
    const fs::path target = dir / "a&b.dat"; // named in the message, escaped
    for (bool compressed : {false, true}) {
        for (int lineWidth : {0, 76}) {
            const std::string text = base64(compressed ? packed : data, lineWidth);
            const std::string message = getFileResponse("<Length>300000</Length><CompressFlag>" +
                                                            std::string(compressed ? "1" : "0") + "</CompressFlag>",
                                                        text);
            for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1021}, std::size_t{2047},
                                      std::size_t{2048}, std::size_t{65539}, message.size(), std::size_t{0}}) {
                SCOPED_TRACE((compressed ? "compressed" : "plain") + std::string(", line width ") +
                             std::to_string(lineWidth) + ", chunk " + std::to_string(chunk));
                UniqueFd fd = createFile(target);
                const Received r = receive(message, chunk, {fd.get(), target, compressed}, dir.path());
                EXPECT_EQ(r.plannerCalls, 1);
                EXPECT_TRUE(r.outcome.extracted);
                EXPECT_EQ(r.outcome.failure.why(), PlainDataWriter::Failure::None);
                EXPECT_EQ(r.outcome.md5, md5Hex(data));
                EXPECT_EQ(r.outcome.bytesOut, data.size());
                EXPECT_TRUE(readFile(target) == data);
                EXPECT_EQ(r.entityInFile, target.string());
                EXPECT_LT(r.messageFile.size(), 1000u);
            }
        }
    }
    // Nowhere to go: the data is only hashed, and the Entity left empty.
    const Received r = receive(getFileResponse("", base64(data, 0)), 4096, {}, dir.path());
    EXPECT_TRUE(r.outcome.extracted);
    EXPECT_EQ(r.outcome.md5, md5Hex(data));
    EXPECT_EQ(r.entityInFile, "");
}

TEST(EntityReceiver, FileValuesAheadOfTheTextReachThePlanner) {
    struct Case {
        const char* what;
        std::string before; // File children before the Entity
        std::string after;  // and after it
        std::optional<std::string> length;
        std::optional<std::string> compressFlag;
    };
    const std::vector<Case> cases = {
        {"both ahead", "<Length>12</Length><MD5>x</MD5><CompressFlag>1</CompressFlag>", "", "12", "1"},
        {"blank and empty", "<Length> 7 </Length><CompressFlag/>", "", " 7 ", ""},
        {"both after", "", "<Length>12</Length><CompressFlag>1</CompressFlag>", std::nullopt, std::nullopt},
        {"length twice", "<Length>1</Length><Length>2</Length><CompressFlag>0</CompressFlag>", "", std::nullopt, "0"},
        {"a character reference", "<Length>&#49;2</Length><CompressFlag>1</CompressFlag>", "", std::nullopt, "1"},
        {"a comment", "<!-- x --><Length>12</Length><CompressFlag>1</CompressFlag>", "", std::nullopt, std::nullopt},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Received r = receive(getFileResponse(c.before, "QUJD", c.after), 5, {}, dir.path());
        EXPECT_EQ(r.plannerCalls, 1);
        EXPECT_EQ(r.head.length, c.length);
        EXPECT_EQ(r.head.compressFlag, c.compressFlag);
        EXPECT_TRUE(r.outcome.extracted);
        EXPECT_EQ(r.outcome.md5, md5Hex("ABC"));
    }
}

TEST(EntityReceiver, TextOutOfReachOrNotBase64IsNeverGood) {
    // Padding that puts the start tag's ">" at byte (index) at.
    auto startTagEndingAt = [](std::size_t at) {
        const std::string probe = getFileResponse("<Pad></Pad>", "QUJD");
        const std::size_t now = probe.find("<Entity>") + 7;
        return getFileResponse("<Pad>" + std::string(at - now, 'x') + "</Pad>", "QUJD");
    };
    std::string withoutEntity = getFileResponse("", "QUJD");
    withoutEntity.replace(withoutEntity.find("<Entity>"), 8, "<Data>");
    withoutEntity.replace(withoutEntity.find("</Entity>"), 9, "</Data>");
    struct Case {
        const char* what;
        std::string message;
        bool extracted;
    };
    const std::vector<Case> cases = {
        {"start tag ends on the window's last byte", startTagEndingAt(2046), true},
        {"start tag ends one byte later", startTagEndingAt(2047), false},
        {"no Entity", withoutEntity, false},
        {"a byte outside the alphabet", getFileResponse("", "QUJD$RUY="), false},
        {"markup in the text", getFileResponse("", "QU<x/>JD"), false},
        {"closing tag before the last window", getFileResponse("", "QUJD") + std::string(2100, ' '), false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueFd fd = createFile(dir / "target");
        for (std::size_t chunk : {std::size_t{1}, std::size_t{0}}) {
            const Received r = receive(c.message, chunk, {fd.get(), dir / "target", false}, dir.path());
            EXPECT_EQ(r.outcome.extracted, c.extracted);
            if (c.extracted) {
                EXPECT_EQ(r.outcome.md5, md5Hex("ABC"));
                continue;
            }
            EXPECT_EQ(r.outcome.md5, "");
            EXPECT_EQ(r.outcome.bytesOut, 0u);
            EXPECT_EQ(r.messageFile, c.message); // kept as it came
        }
    }
}

TEST(EntityReceiver, AnExpansionStopsAtItsLimit) {
    TempDir dir;
    const std::string data = test::mixedData(200000, 2);
    const std::string text = base64(test::gzipInMemory(data), 0);
    const std::string bomb = base64(test::gzipInMemory(std::string(32 << 20, '\0')), 0); // 32 MiB from some 32 KiB
    struct Case {
        const char* what;
        std::string text;
        std::uint64_t limit;
        bool good;
    };
    const std::vector<Case> cases = {
        {"exactly the limit", text, data.size(), true},
        {"one byte more", text, data.size() - 1, false},
        {"a bomb", bomb, 1 << 20, false},
        {"a cut-off stream", text.substr(0, 40), data.size(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueFd fd = createFile(dir / "target");
        const Received r =
            receive(getFileResponse("", c.text), 65536, {fd.get(), dir / "target", true, c.limit}, dir.path());
        EXPECT_TRUE(r.outcome.extracted);
        EXPECT_LE(fs::file_size(dir / "target"), c.limit);
        if (c.good) {
            EXPECT_EQ(r.outcome.failure.why(), PlainDataWriter::Failure::None);
            EXPECT_EQ(r.outcome.md5, md5Hex(data));
            continue;
        }
        EXPECT_EQ(r.outcome.failure.why(), PlainDataWriter::Failure::Expansion);
        EXPECT_EQ(r.outcome.bytesOut, 0u);
        EXPECT_EQ(r.outcome.md5, "");
    }
}

TEST(EntityReceiver, AFileThatRefusesTheDataIsAWriteFailureWithItsErrno) {
    TempDir dir;
    writeFile(dir / "readonly", "");
    struct Case {
        fs::path path;
        int flags;
        bool expand;
        int error;
    };
    const std::string data = test::mixedData(100000, 3);
    for (const Case& c : {Case{"/dev/full", O_WRONLY, false, ENOSPC}, Case{"/dev/full", O_WRONLY, true, ENOSPC},
                          Case{dir / "readonly", O_RDONLY, false, EBADF}}) {
        SCOPED_TRACE(c.path.string() + (c.expand ? " expanded" : ""));
        UniqueFd fd(::open(c.path.c_str(), c.flags | O_CLOEXEC));
        ASSERT_TRUE(fd);
        const std::string text = base64(c.expand ? test::gzipInMemory(data) : data, 76);
        const Received r = receive(getFileResponse("", text), 8192, {fd.get(), c.path, c.expand}, dir.path());
        EXPECT_TRUE(r.outcome.extracted); // the text itself was good
        EXPECT_EQ(r.outcome.failure.why(), PlainDataWriter::Failure::Write);
        EXPECT_EQ(r.outcome.failure.systemError(), c.error);
        EXPECT_EQ(r.outcome.md5, "");
        EXPECT_EQ(r.outcome.bytesOut, 0u);
    }
}

// The data goes into its target by the File values, whether they came ahead
// of it (written straight there) or after it (restored from a scratch file),
// and is never expanded past the announced Length.
TEST(ReceivedEntity, StoredByTheAnnouncedValuesAheadOrAfterTheData) {
    TempDir dir;
    const std::string data = test::mixedData(200000, 2);
    const std::string text = base64(test::gzipInMemory(data), 0);
    const auto size = static_cast<std::int32_t>(data.size());
    struct Case {
        const char* what;
        bool ahead;
        std::int32_t length;
        std::int32_t saidFlag; // by the parsed message
        bool good;
    };
    for (const Case& c : {Case{"ahead", true, size, 1, true}, Case{"after", false, size, 1, true},
                          Case{"ahead, longer than announced", true, size - 1, 1, false},
                          Case{"after, longer than announced", false, size - 1, 1, false},
                          Case{"ahead, then said to be plain", true, size, 0, false}}) {
        SCOPED_TRACE(c.what);
        const std::string values = "<Length>" + std::to_string(c.length) + "</Length><CompressFlag>1</CompressFlag>";
        writeFile(dir / "message.xml", c.ahead ? getFileResponse(values, text) : getFileResponse("", text, values));
        UniqueFd target = createFile(dir / "target");
        ReceivedEntity entity;
        EntityReceiver receiver(
            [&](const EntityHead& head) {
                return entity.plan(head, [&] { return EntityTarget{target.get(), dir / "target"}; });
            },
            dir.path());
        ScopedFileRemoval message(receiver.receiveFile(dir / "message.xml"));
        ASSERT_TRUE(receiver.outcome().extracted);
        const std::string digest =
            entity.storedDigest(receiver.outcome(), {c.length, c.saidFlag}, [&] { return target.get(); });
        EXPECT_EQ(digest, c.good ? md5Hex(data) : "");
        EXPECT_LE(fs::file_size(dir / "target"), static_cast<std::uintmax_t>(size));
        if (c.good) {
            EXPECT_TRUE(readFile(dir / "target") == data);
        }
    }
    // A target that refuses the data is the system error, not a digest.
    ReceivedEntity entity;
    EntityReceiver receiver([&](const EntityHead& head) { return entity.plan(head, [] { return EntityTarget{}; }); });
    writeFile(dir / "message.xml", getFileResponse("", text));
    ScopedFileRemoval message(receiver.receiveFile(dir / "message.xml"));
    UniqueFd readOnly(::open((dir / "target").c_str(), O_RDONLY | O_CLOEXEC));
    try {
        entity.storedDigest(receiver.outcome(), {size, 1}, [&] { return readOnly.get(); });
        ADD_FAILURE() << "stored into a read-only file";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EBADF);
    }
}

} // namespace
} // namespace plx
