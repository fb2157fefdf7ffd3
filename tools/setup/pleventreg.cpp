// pleventreg: registers the event source of the logging library. Events go
// to the systemd journal, so registering is installing the journal catalog
// that titles them with their category texts, and having the journal compile
// it. The whole command line names the library as the message file; an
// empty one registers an empty path, and a path that names no file is
// refused (exit 2, on standard error) before anything is installed.
//
// Exit code 0 when the catalog is installed and compiled; -1 (255) after one
// line on standard output: "Unable to create key" when the catalog cannot be
// created, "Unable to add value to key" when it cannot be written or compiled.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/CommandUsage.h"
#include "platform/FdIo.h"
#include "platform/ProgramFolder.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "pllog/EventCatalog.h"

namespace fs = std::filesystem;
using namespace plx;

namespace {

constexpr const char* kCatalogFolder = "usr/lib/systemd/catalog";
constexpr const char* kUsage = "使用法: pleventreg ライブラリのパス";

int fail(const char* message) {
    std::puts(message);
    return -1;
}

// The words after the program name, as given, joined again.
std::string commandLine(const std::vector<std::string>& words) {
    std::string line;
    for (std::size_t i = 0; i < words.size(); ++i) line += (i > 0 ? " " : "") + words[i];
    return line;
}

// Why path names no library the journal could be pointed at; empty when it does.
std::string missingLibrary(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "通常のファイルではありません";
    return {};
}

// Written beside the catalog and renamed over it, so the journal never
// compiles half a catalog.
bool writeCatalog(const fs::path& temp, const fs::path& target, const std::string& text) {
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    return fd && writeAll(fd.get(), text.data(), text.size()) && ::fchmod(fd.get(), 0644) == 0 &&
           ::fsync(fd.get()) == 0 && ::rename(temp.c_str(), target.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    CommandOperands words = commandOperands(argc, argv, kUsage, {});
    if (words.exitCode) return *words.exitCode;
    std::string library = commandLine(words.operands);
    if (!library.empty()) {
        if (std::string why = missingLibrary(library); !why.empty()) {
            std::fprintf(stderr, "pleventreg: %s: %s\n", library.c_str(), why.c_str());
            return kUsageExit;
        }
    }
    std::string text;
    try {
        text = eventCatalog(library);
    } catch (const std::exception&) {
        return fail("Unable to add value to key");
    }

    fs::path root = installRoot();
    fs::path folder = root / kCatalogFolder;
    ScopedFileRemoval temp;
    try {
        fs::create_directories(folder);
        temp = ScopedFileRemoval(createUniqueFile(folder, ".korvane-plx", 0644));
    } catch (const std::exception&) {
        return fail("Unable to create key");
    }
    if (!writeCatalog(temp.path(), folder / kEventCatalogFileName, text)) return fail("Unable to add value to key");
    temp.release();

    if (runProgram({"journalctl", "--root=" + root.string(), "--update-catalog"}) != 0)
        return fail("Unable to add value to key");
    return 0;
}
