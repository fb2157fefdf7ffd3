#include "service/classes/CallerFiles.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "common/FileControl.h"
#include "platform/FileAccess.h"

namespace plx {

namespace {

// Links followed while resolving one folder, as the kernel allows.
constexpr int kMaxLinks = 40;

// File systems whose "regular files" are the kernel's own views: never data
// to send.
constexpr std::array<unsigned long, 10> kKernelFileSystems{
    PROC_SUPER_MAGIC, SYSFS_MAGIC,        DEBUGFS_MAGIC,       TRACEFS_MAGIC,  SECURITYFS_MAGIC,
    BPF_FS_MAGIC,     CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, EFIVARFS_MAGIC, PSTOREFS_MAGIC};

bool onKernelFileSystem(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return true; // unknown: not data
    auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(kKernelFileSystems.begin(), kKernelFileSystems.end(), type) != kKernelFileSystems.end();
}

[[noreturn]] void refuse(int error, const std::string& what) {
    throw CallerFileError(CallerFileError::kRefused, error, what);
}

// A failed lookup by the service: missing, or the service's own failure.
[[noreturn]] void lookupFailed(int error, const std::string& what) {
    throw CallerFileError(error == ENOENT || error == ENOTDIR ? CallerFileError::kMissing : CallerFileError::kSystem,
                          error, what);
}

struct stat statOf(int fd, const std::string& what) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw CallerFileError(CallerFileError::kSystem, errno, what);
    return st;
}

std::deque<std::string> components(std::string_view path) {
    std::deque<std::string> out;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

UniqueFd openRoot() {
    UniqueFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root) throw CallerFileError(CallerFileError::kSystem, errno, "/");
    return root;
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// The name in folder, opened without following a link.
UniqueFd openEntry(const CallerFolder& folder, std::string_view name, struct stat& st) {
    std::string entry(name);
    UniqueFd fd(::openat(folder.fd(), entry.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) lookupFailed(errno, folder.path() + "/" + entry);
    st = statOf(fd.get(), entry);
    if (S_ISLNK(st.st_mode)) refuse(ELOOP, entry);
    if (!S_ISREG(st.st_mode))
        throw CallerFileError(CallerFileError::kNotFile, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, entry);
    return fd;
}

// The object behind an O_PATH descriptor, opened again for real work.
UniqueFd reopen(int pathFd, int flags, const std::string& what) {
    UniqueFd fd(::open(procPath(pathFd).c_str(), flags | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw CallerFileError(CallerFileError::kSystem, errno, what);
    return fd;
}

} // namespace

// ---- Caller ----

Caller Caller::service() {
    Caller c;
    c.kind_ = Kind::kService;
    return c;
}

Caller Caller::withCredentials(Credentials credentials) {
    Caller c;
    c.kind_ = Kind::kCaller;
    c.credentials_ = std::move(credentials);
    return c;
}

Caller Caller::unknown() { return Caller(); }

bool Caller::may(int fd, const struct stat& st, unsigned want) const {
    switch (kind_) {
    case Kind::kService: return true;
    case Kind::kCaller: return mayAccess(credentials_, fd, st, want);
    case Kind::kUnknown: return false;
    }
    return false;
}

bool Caller::mayReplace(const struct stat& folder, const struct stat& file) const {
    if (kind_ == Kind::kService) return true;
    if (kind_ == Kind::kUnknown) return false;
    if (!(folder.st_mode & S_ISVTX) || credentials_.overridesAccess) return true;
    return credentials_.uid == file.st_uid || credentials_.uid == folder.st_uid;
}

CallerFileError::CallerFileError(Kind kind, int error, const std::string& what)
    : std::system_error(error, std::generic_category(), what), kind_(kind) {}

// ---- CallerFolder ----

// Walks the path one name at a time, as the kernel's lookup does, checking
// the caller's search right on each folder before looking into it.
CallerFolder::CallerFolder(Caller caller, std::string_view folder, FolderUse use)
    : caller_(std::move(caller)), path_(folder) {
    if (folder.empty() || folder.front() != '/') refuse(EINVAL, path_);
    UniqueFd current = openRoot();
    std::deque<std::string> names = components(folder);
    int links = 0;
    while (!names.empty()) {
        std::string name = std::move(names.front());
        names.pop_front();
        if (name == ".") continue;
        struct stat here = statOf(current.get(), path_);
        if (!caller_.may(current.get(), here, kAccessSearch)) refuse(EACCES, path_);
        UniqueFd next(::openat(current.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next) lookupFailed(errno, path_);
        struct stat st = statOf(next.get(), path_);
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks) refuse(ELOOP, path_);
            std::string target(PATH_MAX, '\0');
            ssize_t n = ::readlinkat(next.get(), "", target.data(), target.size());
            if (n < 0) throw CallerFileError(CallerFileError::kSystem, errno, path_);
            target.resize(static_cast<std::size_t>(n));
            std::deque<std::string> more = components(target);
            names.insert(names.begin(), more.begin(), more.end());
            if (!target.empty() && target.front() == '/') current = openRoot();
            continue;
        }
        if (!S_ISDIR(st.st_mode)) lookupFailed(ENOTDIR, path_);
        current = std::move(next);
    }
    st_ = statOf(current.get(), path_);
    unsigned want = use == FolderUse::kWrite ? (kAccessWrite | kAccessSearch) : kAccessSearch;
    if (!caller_.may(current.get(), st_, want)) refuse(EACCES, path_);
    if (use == FolderUse::kWrite) {
        // A folder without any write bit is read-only, to root as well.
        if ((st_.st_mode & 0222) == 0) refuse(EACCES, path_);
        if (::faccessat(current.get(), "", W_OK | X_OK, AT_EMPTY_PATH | AT_EACCESS) != 0)
            throw CallerFileError(CallerFileError::kSystem, errno, path_);
    }
    fd_ = std::move(current);
}

UniqueFd CallerFolder::openSource(std::string_view name) const {
    struct stat st {};
    UniqueFd entry = openEntry(*this, name, st);
    std::string what = path_ + "/" + std::string(name);
    if (onKernelFileSystem(entry.get())) throw CallerFileError(CallerFileError::kNotFile, EINVAL, what);
    if (!caller_.may(entry.get(), st, kAccessRead)) refuse(EACCES, what);
    return reopen(entry.get(), O_RDONLY, what);
}

std::optional<CallerFolder::Entry> CallerFolder::openTarget(std::string_view name, bool forAppend) const {
    Entry entry;
    try {
        entry.fd = openEntry(*this, name, entry.st);
    } catch (const CallerFileError& e) {
        if (e.kind() == CallerFileError::kMissing && e.error() == ENOENT) return std::nullopt;
        throw;
    }
    bool allowed = forAppend ? caller_.may(entry.fd.get(), entry.st, kAccessWrite) : caller_.mayReplace(st_, entry.st);
    if (!allowed) refuse(EACCES, path_ + "/" + std::string(name));
    return entry;
}

// ---- CallerTarget ----

CallerTarget::CallerTarget(const CallerFolder& folder, std::string name, WriteMode mode)
    : folder_(folder), name_(std::move(name)) {
    if (mode == WriteMode::kAppend && !name_.empty()) {
        if (std::optional<CallerFolder::Entry> old = folder_.openTarget(name_, true)) {
            appended_ = reopen(old->fd.get(), O_WRONLY | O_APPEND, name_);
            appendedFrom_ = statOf(appended_.get(), name_).st_size;
            return;
        }
    }
    try {
        pending_.emplace(folder_.fd(), 0666);
    } catch (const std::system_error& e) {
        throw CallerFileError(CallerFileError::kSystem, e.code().value(), folder_.path());
    }
}

CallerTarget::~CallerTarget() {
    // An append that did not complete is taken back off the target.
    if (appended_ && !committed_) (void)!::ftruncate(appended_.get(), appendedFrom_);
}

int CallerTarget::fd() const { return appended_ ? appended_.get() : pending_->fd(); }

std::string CallerTarget::commit() {
    try {
        if (appended_) {
            if (::fsync(appended_.get()) != 0) throw CallerFileError(CallerFileError::kSystem, errno, name_);
        } else if (name_.empty()) {
            name_ = pending_->linkUnique(kTempPrefix);
        } else if (std::optional<CallerFolder::Entry> old = folder_.openTarget(name_, false)) {
            // A replaced file loses only its read-only state.
            old->st.st_mode |= S_IWUSR;
            pending_->keepPermissionsOf(old->fd.get(), old->st);
            pending_->replace(name_);
        } else {
            pending_->linkAs(name_);
        }
    } catch (const CallerFileError&) {
        throw;
    } catch (const std::system_error& e) {
        throw CallerFileError(CallerFileError::kSystem, e.code().value(), folder_.path() + "/" + name_);
    }
    committed_ = true;
    return name_;
}

} // namespace plx
