#include "platform/NamedMutex.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace plx {

struct NamedMutex::State {
    std::string name;
    std::string lockPath;
    std::mutex guard;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;
    UniqueFd fd;
    pid_t fdPid = 0; // a descriptor inherited through fork shares its lock: reopen
};

namespace {

std::string lockFileName(const std::string& name) {
    std::string out;
    for (char c : name) out += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
    return out + ".lock";
}

void ensurePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::system_error(errno, std::generic_category(), "mkdir " + path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw std::system_error(errno, std::generic_category(), "stat " + path);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        throw std::system_error(EPERM, std::generic_category(), "lock folder not ours: " + path);
}

std::shared_ptr<NamedMutex::State> stateFor(const std::string& name) {
    // One state per name in the process, so every NamedMutex of a name
    // shares the recursion count and the file lock.
    static std::mutex registryMutex;
    static std::map<std::string, std::weak_ptr<NamedMutex::State>> registry;
    std::lock_guard lock(registryMutex);
    if (auto existing = registry[name].lock()) return existing;
    auto state = std::make_shared<NamedMutex::State>();
    state->name = name;
    registry[name] = state;
    return state;
}

// flock, waiting without limit or until deadline.
bool lockFile(int fd, std::optional<std::chrono::steady_clock::time_point> deadline, const std::string& path) {
    if (!deadline) {
        int rc;
        while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (rc != 0) throw std::system_error(errno, std::generic_category(), "flock " + path);
        return true;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw std::system_error(errno, std::generic_category(), "flock " + path);
        if (std::chrono::steady_clock::now() >= *deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

std::string runtimeFolder() {
    if (const char* dir = std::getenv("PLX_RUNTIME_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return std::string(xdg) + "/plx";
    return "/tmp/plx-" + std::to_string(::geteuid());
}

NamedMutex::NamedMutex(const std::string& name) : state_(stateFor(name)) {}

NamedMutex::~NamedMutex() = default;

const std::string& NamedMutex::name() const { return state_->name; }

void NamedMutex::lock() { acquire(std::nullopt); }

bool NamedMutex::try_lock_for(std::chrono::milliseconds timeout) {
    return acquire(std::chrono::steady_clock::now() + timeout);
}

bool NamedMutex::acquire(std::optional<std::chrono::steady_clock::time_point> deadline) {
    State& s = *state_;
    std::unique_lock guard(s.guard);
    auto self = std::this_thread::get_id();
    if (s.depth > 0 && s.owner == self) {
        ++s.depth;
        return true;
    }
    auto free = [&] { return s.depth == 0; };
    if (!deadline) {
        s.released.wait(guard, free);
    } else if (!s.released.wait_until(guard, *deadline, free)) {
        return false;
    }
    s.owner = self;
    s.depth = 1;
    auto giveUp = [&] {
        if (!guard.owns_lock()) guard.lock();
        s.depth = 0;
        s.owner = {};
        s.released.notify_one();
    };
    try {
        // The lock file may have been removed (a cleaned runtime folder) or
        // the folder changed; a lock on a file nobody else can open excludes
        // nobody, so check the locked file is still the one at the path.
        for (;;) {
            std::string folder = runtimeFolder();
            std::string path = folder + "/" + lockFileName(s.name);
            if (!s.fd || s.fdPid != ::getpid() || s.lockPath != path) {
                ensurePrivateFolder(folder);
                s.fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
                if (!s.fd) throw std::system_error(errno, std::generic_category(), "open " + path);
                s.lockPath = path;
                s.fdPid = ::getpid();
            }
            int fd = s.fd.get();
            // Other threads of this process wait on depth; only the process
            // lock is waited for here, without holding the guard.
            guard.unlock();
            if (!lockFile(fd, deadline, path)) {
                giveUp();
                return false;
            }
            struct stat held {
            }, current{};
            bool same = ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &current) == 0 &&
                        held.st_dev == current.st_dev && held.st_ino == current.st_ino;
            guard.lock();
            if (same) return true;
            ::flock(fd, LOCK_UN);
            s.fd.reset();
        }
    } catch (...) {
        giveUp();
        throw;
    }
}

void NamedMutex::unlock() {
    State& s = *state_;
    std::lock_guard guard(s.guard);
    if (s.depth == 0 || s.owner != std::this_thread::get_id()) return;
    if (--s.depth > 0) return;
    ::flock(s.fd.get(), LOCK_UN);
    s.owner = {};
    s.released.notify_one();
}

} // namespace plx
