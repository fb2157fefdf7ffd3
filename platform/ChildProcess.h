#pragma once
// Every program this system starts is a ChildProcess: started with
// posix_spawn, so a program that cannot be run is an error of the start
// (never an exit code of a child); waits have a limit where the owner asks
// for one; a child the owner neither waited for nor let go is killed and
// reaped when the owner goes, and one it lets go is reaped by a thread of
// its own when it ends. No zombie is ever left behind.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/UniqueFd.h"

namespace plx {

// Where one of the child's standard streams goes.
struct ChildStream {
    enum Kind { kInherit, kNull, kFile, kPipe };
    Kind kind = kInherit;
    std::filesystem::path file{}; // kFile: created or truncated, mode 0600

    static ChildStream inherit() { return {}; }
    static ChildStream null() { return {kNull, {}}; }
    static ChildStream toFile(std::filesystem::path path) { return {kFile, std::move(path)}; }
    // Output and errors only: both go into the one pipe that output() reads.
    static ChildStream pipe() { return {kPipe, {}}; }
};

struct ChildOptions {
    // argv[0] without a "/" is looked up in PATH (as a shell would).
    bool searchPath = false;
    // The file to run when it is not argv[0] (argv[0] is then only the name
    // the program sees).
    std::filesystem::path program{};
    // "NAME=value", replacing the same names of the caller's environment.
    std::vector<std::string> extraEnv{};
    ChildStream input{};
    ChildStream output{};
    ChildStream errors{};
    // Empty: the caller's.
    std::filesystem::path workingFolder{};
};

class ChildProcess {
public:
    // Starts the program with no signal blocked. Throws std::system_error
    // with the errno of the start (ENOENT, EACCES, ...) when it cannot run.
    explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Polls readable once the child has ended.
    int pidfd() const { return pidfd_.get(); }
    // The read end of the pipe of ChildStream::pipe(); -1 without one.
    int output() const { return output_.get(); }

    // The waitpid status when the child ended within timeout; nullopt while
    // it still runs (or when it was reaped already).
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    // Waits without a limit; nullopt only when the status could not be had.
    std::optional<int> wait();
    // Ends the child now (SIGKILL) and reaps it.
    void kill();
    // Asks the child to end (SIGTERM), waits up to grace, then kills it.
    void terminate(std::chrono::milliseconds grace);
    // The child runs on by itself; a thread of its own reaps it when it ends.
    void detach();

private:
    pid_t pid_ = -1;
    UniqueFd pidfd_;
    UniqueFd output_;
};

// The waitpid status as an exit code: the exit status, or 128 + the signal.
int exitCodeOf(int status);

// Runs argv[0] (searched in PATH when it holds no "/") with standard input
// and output on /dev/null and standard error shared, and waits for it.
// Returns its exit code; -1 when it could not be started or a signal ended it.
int runProgram(const std::vector<std::string>& argv);

// A descriptor of process pid that polls readable once it has ended (-1
// with errno on failure), and a signal sent through it (which cannot reach a
// later process that reuses the id); 0 or -1 with errno.
int openPidfd(pid_t pid);
int signalPidfd(int pidfd, int signal);
// As signalPidfd, queued (SI_QUEUE) with value, which a signalfd reads as ssi_int.
int queueSignalPidfd(int pidfd, int signal, int value);

} // namespace plx
