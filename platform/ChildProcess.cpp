#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "platform/FdIo.h"

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

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    if (argv.empty()) throw std::system_error(EINVAL, std::generic_category(), "no program to start");
    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls may run.
    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(extraEnv);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    UniqueFd reportRead(report[0]);
    UniqueFd reportWrite(report[1]);

    pid_ = ::fork();
    if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argp[0], argp.data(), envp.data());
        int error = errno;
        (void)!::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    reportWrite.reset();
    int execError = 0;
    if (readFully(reportRead.get(), &execError, sizeof execError) == static_cast<ssize_t>(sizeof execError)) {
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::system_error(execError, std::generic_category(), "start " + argv[0]);
    }
    pidfd_.reset(openPidfd(pid_));
    if (!pidfd_) {
        int error = errno;
        kill();
        throw std::system_error(error, std::generic_category(), "pidfd_open");
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)) {}

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
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        pidfd_.reset();
        if (r < 0) return std::nullopt;
        return status;
    }
}

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    // Through the pidfd when there is one: the signal cannot reach a process
    // that reused the id. (An unreaped child keeps its id anyway.)
    if (pidfd_)
        signalPidfd(pidfd_.get(), SIGKILL);
    else
        ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    pidfd_.reset();
}

void ChildProcess::detach() {
    pid_ = -1;
    pidfd_.reset();
}

int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int signalPidfd(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 255;
}

} // namespace plx
