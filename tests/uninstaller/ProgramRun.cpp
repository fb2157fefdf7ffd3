#include "tests/uninstaller/ProgramRun.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace plx::test {

ProgramRun runToTheEnd(const std::vector<std::string>& argv, std::chrono::seconds limit) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    TempDir scratch;
    std::string errorsFile = (scratch / "stderr").string();
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::setpgid(0, 0);
        int fd = ::open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) ::dup2(fd, STDERR_FILENO);
        ::execv(argp[0], argp.data());
        ::_exit(127);
    }
    ProgramRun run;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t ended = ::waitpid(-1, &status, WNOHANG);
        if (ended == pid) run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ended < 0 && errno == ECHILD) break;
        if (ended > 0) continue;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(-1, nullptr, 0) > 0) {
            }
            run.exitCode = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.err = readFile(errorsFile);
    return run;
}

} // namespace plx::test
