#include "platform/LinkJournal.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

std::mutex& folderMutex() {
    static std::mutex mutex;
    return mutex;
}

fs::path& journalFolder() {
    static fs::path folder;
    return folder;
}

fs::path currentFolder() {
    std::lock_guard lock(folderMutex());
    return journalFolder();
}

// Only names of the kind a PendingFile gives, and only plain files.
bool removeRecorded(const fs::path& path) {
    std::string name = path.filename().string();
    if (!isHiddenLinkName(name)) return false;
    UniqueFd dir(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!dir || ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::unlinkat(dir.get(), name.c_str(), 0) == 0;
}

// A record's text; empty when it cannot be read whole.
std::string readWhole(const fs::path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return fd ? readAllText(fd.get()).value_or(std::string()) : std::string();
}

} // namespace

bool isHiddenLinkName(std::string_view name) {
    constexpr std::string_view kEnd = ".tmp";
    return name.size() > kHiddenLinkPrefix.size() + kEnd.size() && name.starts_with(kHiddenLinkPrefix) &&
           name.ends_with(kEnd);
}

LinkRecord::LinkRecord(int dirFd, const std::string& name) {
    fs::path folder = currentFolder();
    if (folder.empty()) return;
    std::error_code ec;
    fs::path dir = fs::read_symlink("/proc/self/fd/" + std::to_string(dirFd), ec);
    if (ec) return;
    std::string text = (dir / name).string();
    try {
        OpenTempFile record;
        try {
            record = OpenTempFile::create(folder, "link");
        } catch (const std::system_error& e) {
            // Made only while a name is under way, so an idle service leaves no trace.
            if (e.code().value() != ENOENT || !fs::create_directory(folder, ec)) throw;
            record = OpenTempFile::create(folder, "link");
        }
        if (!writeAll(record.fd(), text.data(), text.size()) || !record.close()) return;
        record_ = record.keep();
    } catch (const std::system_error&) {
    }
}

LinkRecord::~LinkRecord() {
    if (!record_.empty()) ::unlink(record_.c_str());
}

LinkRecord::LinkRecord(LinkRecord&& other) noexcept : record_(std::exchange(other.record_, {})) {}

LinkRecord& LinkRecord::operator=(LinkRecord&& other) noexcept {
    if (this != &other) {
        if (!record_.empty()) ::unlink(record_.c_str());
        record_ = std::exchange(other.record_, {});
    }
    return *this;
}

void LinkRecord::useFolder(const fs::path& folder) {
    std::lock_guard lock(folderMutex());
    journalFolder() = folder;
}

int LinkRecord::removeLeftovers() {
    fs::path folder = currentFolder();
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return 0;
    int removed = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        if (removeRecorded(readWhole(it->path()))) ++removed;
        ::unlink(it->path().c_str());
    }
    fs::remove(folder, ec); // when empty
    return removed;
}

} // namespace plx
