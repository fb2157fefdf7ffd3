#include "platform/LinkJournal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

// A record is a file named "link<HEX>.tmp" in the folder.
constexpr std::string_view kRecordPrefix = "link";

// Held while a record is made or removed, so the folder is never removed
// between its making and a record's creation in it.
std::mutex& folderMutex() {
    static std::mutex mutex;
    return mutex;
}

fs::path& journalFolder() {
    static fs::path folder;
    return folder;
}

// prefix, hex digits and ".tmp": a name uniqueFileName gives.
bool isUniqueName(std::string_view name, std::string_view prefix) {
    constexpr std::string_view kEnd = ".tmp";
    if (name.size() <= prefix.size() + kEnd.size() || !name.starts_with(prefix) || !name.ends_with(kEnd)) return false;
    std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - kEnd.size());
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// Only names of the kind a PendingFile gives, and only plain files.
bool removeRecorded(const fs::path& path) {
    std::string name = path.filename().string();
    if (!isHiddenLinkName(name) || !path.is_absolute()) return false;
    // A record names what was there; a link put in its place since leads elsewhere.
    UniqueFd dir = openFolderWithoutLinks(AT_FDCWD, path.parent_path());
    struct stat st {};
    if (!dir || ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::unlinkat(dir.get(), name.c_str(), 0) == 0;
}

// A record's text; empty when it is no plain file or cannot be read whole.
std::string readRecord(int folder, const char* name) {
    UniqueFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return readAllText(fd.get()).value_or(std::string());
}

} // namespace

bool isHiddenLinkName(std::string_view name) { return isUniqueName(name, kHiddenLinkPrefix); }

LinkRecord::LinkRecord(int dirFd, const std::string& name) {
    std::lock_guard lock(folderMutex());
    const fs::path& folder = journalFolder();
    if (folder.empty()) return;
    std::error_code ec;
    fs::path dir = fs::read_symlink("/proc/self/fd/" + std::to_string(dirFd), ec);
    if (ec) return;
    std::string text = (dir / name).string();
    try {
        OpenTempFile record;
        try {
            record = OpenTempFile::create(folder, kRecordPrefix);
        } catch (const std::system_error& e) {
            // Made only while a name is under way, so an idle service leaves no trace.
            if (e.code().value() != ENOENT || !fs::create_directory(folder, ec)) throw;
            record = OpenTempFile::create(folder, kRecordPrefix);
        }
        if (!writeAll(record.fd(), text.data(), text.size()) || !record.close()) return;
        record_ = record.keep();
    } catch (const std::system_error&) {
    }
}

LinkRecord::~LinkRecord() { drop(); }

LinkRecord::LinkRecord(LinkRecord&& other) noexcept : record_(std::exchange(other.record_, {})) {}

LinkRecord& LinkRecord::operator=(LinkRecord&& other) noexcept {
    if (this != &other) {
        drop();
        record_ = std::exchange(other.record_, {});
    }
    return *this;
}

// The folder goes with its last record: an idle service leaves no trace.
void LinkRecord::drop() noexcept {
    if (record_.empty()) return;
    std::lock_guard lock(folderMutex());
    ::unlink(record_.c_str());
    ::rmdir(record_.parent_path().c_str()); // fails while other records are in it
    record_.clear();
}

void LinkRecord::useFolder(const fs::path& folder) {
    std::lock_guard lock(folderMutex());
    journalFolder() = folder;
}

int LinkRecord::removeLeftovers() {
    fs::path folder;
    {
        std::lock_guard lock(folderMutex());
        folder = journalFolder();
    }
    if (folder.empty()) return 0;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        int error = errno;
        if (error == ENOENT) return 0;
        // A link or a file in its place is not ours to clean, nor to record into.
        useFolder({});
        throw std::system_error(error, std::generic_category(),
                                "record folder " + folder.string() +
                                    " is not a folder of its own (a link?); left as it is");
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd.get()), ::closedir);
    if (!dir) throw std::system_error(errno, std::generic_category(), "record folder " + folder.string());
    (void)fd.release(); // the listing owns it now
    int removed = 0;
    while (dirent* entry = ::readdir(dir.get())) {
        if (!isUniqueName(entry->d_name, kRecordPrefix)) continue;
        std::string recorded = readRecord(::dirfd(dir.get()), entry->d_name);
        if (!recorded.empty() && removeRecorded(recorded)) ++removed;
        ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
    ::rmdir(folder.c_str()); // when empty
    return removed;
}

} // namespace plx
