#pragma once
// A program started as a child process. Exec failures reach the caller as
// errors; waits have a limit; a child the owner did not wait for or let go
// is killed and reaped when the owner goes.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/UniqueFd.h"

namespace plx {

class ChildProcess {
public:
    // Starts argv[0] (a path: PATH is not searched) with the arguments argv,
    // the caller's environment with extraEnv ("NAME=value", replacing the same
    // names) and no signal blocked. Throws std::system_error with the errno
    // of fork or exec when the program cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Polls readable once the child has ended.
    int pidfd() const { return pidfd_.get(); }
    // The waitpid status when the child ended within timeout; nullopt while
    // it still runs.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    // Ends the child now (SIGKILL) and reaps it.
    void kill();
    // The child runs on by itself: the owner neither waits for nor kills it.
    void detach();

private:
    pid_t pid_ = -1;
    UniqueFd pidfd_;
};

// The waitpid status as an exit code: the exit status, or 128 + the signal.
int exitCodeOf(int status);

// A descriptor of process pid that polls readable once it has ended (-1
// with errno on failure), and a signal sent through it (which cannot reach a
// later process that reuses the id); 0 or -1 with errno.
int openPidfd(pid_t pid);
int signalPidfd(int pidfd, int signal);

} // namespace plx
