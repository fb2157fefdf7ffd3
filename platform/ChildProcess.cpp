#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace plx {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& extra : extraEnv) replaced = replaced || nameOf(extra) == nameOf(entry);
        if (!replaced) env.push_back(std::move(entry));
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& t : texts) result.push_back(t.data());
    result.push_back(nullptr);
    return result;
}

[[noreturn]] void throwError(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

void check(int result, const char* what) {
    if (result != 0) throwError(result, what);
}

// The file actions and attributes of one start, released on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

    // The child starts with no signal blocked, whatever the starting thread blocks.
    void unblockSignals() {
        sigset_t none;
        sigemptyset(&none);
        check(::posix_spawnattr_setsigmask(&attributes_, &none), "posix_spawnattr_setsigmask");
        check(::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK), "posix_spawnattr_setflags");
    }

    void direct(int fd, const ChildStream& stream, int pipeWriteEnd) {
        switch (stream.kind) {
        case ChildStream::kInherit: return;
        case ChildStream::kNull: open(fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY); return;
        case ChildStream::kFile: open(fd, stream.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC); return;
        case ChildStream::kPipe:
            check(::posix_spawn_file_actions_adddup2(&actions_, pipeWriteEnd, fd), "posix_spawn_file_actions_adddup2");
            return;
        }
    }

    void changeFolder(const std::filesystem::path& folder) {
        if (folder.empty()) return;
        check(::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()), "posix_spawn_file_actions_addchdir");
    }

private:
    void open(int fd, const char* path, int flags) {
        check(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0600), "posix_spawn_file_actions_addopen");
    }

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

bool wantsPipe(const ChildOptions& options) {
    return options.output.kind == ChildStream::kPipe || options.errors.kind == ChildStream::kPipe;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    if (argv.empty()) throwError(EINVAL, "no program to start");
    if (options.input.kind == ChildStream::kPipe) throwError(EINVAL, "no input pipe");
    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(options.extraEnv);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);

    UniqueFd pipeWrite;
    if (wantsPipe(options)) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throwError(errno, "pipe");
        output_.reset(ends[0]);
        pipeWrite.reset(ends[1]);
    }
    SpawnSetup setup;
    setup.unblockSignals();
    setup.direct(STDIN_FILENO, options.input, -1);
    setup.direct(STDOUT_FILENO, options.output, pipeWrite.get());
    setup.direct(STDERR_FILENO, options.errors, pipeWrite.get());
    setup.changeFolder(options.workingFolder);

    const std::string file = options.program.empty() ? argv[0] : options.program.string();
    auto spawn = options.searchPath ? ::posix_spawnp : ::posix_spawn;
    // glibc reports a failed exec as the result here, not as the child's exit.
    check(spawn(&pid_, file.c_str(), setup.actions(), setup.attributes(), argp.data(), envp.data()),
          ("start " + argv[0]).c_str());
    pidfd_.reset(openPidfd(pid_));
    if (!pidfd_) {
        int error = errno;
        kill();
        throwError(error, "pidfd_open");
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)), output_(std::move(other.output_)) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) kill();
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{pidfd_.get(), POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        return wait();
    }
}

std::optional<int> ChildProcess::wait() {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    pidfd_.reset();
    if (r < 0) return std::nullopt;
    return status;
}

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    // Through the pidfd when there is one: the signal cannot reach a process
    // that reused the id. (An unreaped child keeps its id anyway.)
    if (pidfd_)
        signalPidfd(pidfd_.get(), SIGKILL);
    else
        ::kill(pid_, SIGKILL);
    wait();
}

void ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return;
    signalPidfd(pidfd_.get(), SIGTERM);
    if (!waitFor(grace)) kill();
}

void ChildProcess::detach() {
    if (pid_ > 0) {
        std::thread([pid = pid_] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    pid_ = -1;
    pidfd_.reset();
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

int runProgram(const std::vector<std::string>& argv) {
    try {
        ChildProcess child(
            argv, ChildOptions{.searchPath = true, .input = ChildStream::null(), .output = ChildStream::null()});
        std::optional<int> status = child.wait();
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    } catch (const std::system_error&) {
        return -1;
    }
}

int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int signalPidfd(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

int queueSignalPidfd(int pidfd, int signal, int value) {
    siginfo_t info{};
    info.si_signo = signal;
    info.si_code = SI_QUEUE;
    info.si_pid = ::getpid();
    info.si_uid = ::getuid();
    info.si_value.sival_int = value;
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, &info, 0));
}

} // namespace plx
