#include "uninstaller/TwoStage.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/SingleInstance.h"
#include "platform/TempFile.h"
#include "platform/Utf8.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCopyPrefix = "~cu";
constexpr const char* kInfoExtension = ".wqi";
constexpr const char* kSecondStageExtension = ".tmp";

// FNV-1a, 64 bits: a lock name that no title can turn into a path.
std::uint64_t titleHash(const std::string& title) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : title) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

void copyFile(int from, int to, const fs::path& target) {
    char buffer[65536];
    for (;;) {
        ssize_t n = readSome(from, buffer, sizeof buffer);
        if (n < 0) throw std::system_error(errno, std::generic_category(), "read the program");
        if (n == 0) return;
        if (!writeAll(to, buffer, static_cast<std::size_t>(n)))
            throw std::system_error(errno, std::generic_category(), "write " + target.string());
    }
}

// The file deleteOnEndingSignal names, for the handler alone.
char fileToDeleteOnSignal[4096];

extern "C" void deleteAndEnd(int signal) {
    ::unlink(fileToDeleteOnSignal);
    ::raise(signal); // the default action again (SA_RESETHAND), once this returns
}

} // namespace

fs::path ownProgramPath() {
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : path;
}

fs::path defaultInfoFile(const fs::path& program) { return fs::path(program).replace_extension(kInfoExtension); }

bool isSecondStage(const fs::path& program) {
    return equalsIgnoreCase(program.extension().string(), kSecondStageExtension);
}

fs::path makeStageCopy() {
    fs::path copy = createUniqueFile(systemTempFolder(), kCopyPrefix, 0700);
    ScopedFileRemoval removeCopy(copy);
    UniqueFd from(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!from) throw std::system_error(errno, std::generic_category(), "open the program");
    UniqueFd to(::open(copy.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (!to) throw std::system_error(errno, std::generic_category(), "open " + copy.string());
    copyFile(from.get(), to.get(), copy);
    if (::fchmod(to.get(), 0700) != 0 || ::close(to.release()) != 0)
        throw std::system_error(errno, std::generic_category(), "write " + copy.string());
    removeCopy.release();
    return copy;
}

std::vector<std::string> secondStageCommand(const fs::path& copy, const fs::path& infoFile,
                                            const fs::path& startedProgram, pid_t firstStage) {
    char handle[32];
    std::snprintf(handle, sizeof handle, "$%x", static_cast<unsigned>(firstStage));
    return {copy.string(), infoFile.string(), startedProgram.string(), handle};
}

void deleteOnEndingSignal(const fs::path& file) {
    const std::string& name = file.native();
    if (name.empty() || name.size() >= sizeof fileToDeleteOnSignal) return;
    std::memcpy(fileToDeleteOnSignal, name.c_str(), name.size() + 1);
    struct sigaction action {};
    action.sa_handler = deleteAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndingSignals) ::sigaction(signal, &action, nullptr);
}

void deleteMarkedFileNow() {
    if (fileToDeleteOnSignal[0]) ::unlink(fileToDeleteOnSignal);
}

bool deleteWithRetries(const fs::path& path, int tries, std::chrono::milliseconds interval) {
    for (int i = 0; i < tries; ++i) {
        if (i > 0) std::this_thread::sleep_for(interval);
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    }
    return false;
}

std::string InstanceLock::lockName(const std::string& title) {
    char name[40];
    std::snprintf(name, sizeof name, "CVUninst-%016" PRIx64, titleHash(title));
    return name;
}

std::optional<InstanceLock> InstanceLock::take(const std::string& title, const std::string& windowTitle) {
    auto fd = takeSingleInstanceLock(lockName(title));
    if (!fd) return std::nullopt;
    // The note for a second start: the title of this instance's window.
    if (::ftruncate(fd->get(), 0) == 0) (void)::pwrite(fd->get(), windowTitle.data(), windowTitle.size(), 0);
    return InstanceLock(std::move(*fd));
}

std::string InstanceLock::holderWindowTitle(const std::string& title) {
    UniqueFd fd(::open(singleInstanceLockPath(lockName(title)).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return {};
    char buffer[1024];
    ssize_t n = readFully(fd.get(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace plx::uninst
