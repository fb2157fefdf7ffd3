#include "tests/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "common/FileControl.h"
#include "platform/ChildProcess.h"
#include "platform/TempFile.h"

namespace plx::test {

namespace fs = std::filesystem;

double timeFactor() {
    static const double factor = [] {
        const char* text = std::getenv("PLX_TEST_TIME_FACTOR");
        char* end = nullptr;
        double value = text ? std::strtod(text, &end) : 0;
        return end && end != text && *end == '\0' && value >= 1 ? value : 5.0;
    }();
    return factor;
}

std::chrono::milliseconds scaled(std::chrono::milliseconds duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration * timeFactor());
}

std::chrono::milliseconds hangCeiling() { return scaled(std::chrono::seconds(30)); }

bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds ceiling) {
    const auto deadline = std::chrono::steady_clock::now() + ceiling;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

namespace {

// True when each thread of pid is stopped (or gone).
bool allThreadsStopped(int pid) {
    std::error_code error;
    fs::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
    if (error) return false;
    for (const auto& task : tasks) {
        std::string stat;
        try {
            stat = readFile(task.path() / "stat");
        } catch (const std::runtime_error&) {
            continue; // the thread ended meanwhile
        }
        auto close = stat.rfind(')'); // the state follows the command's name, which may hold anything
        if (close == std::string::npos || close + 2 >= stat.size()) continue;
        char state = stat[close + 2];
        if (state != 'T' && state != 't' && state != 'Z' && state != 'X') return false;
    }
    return true;
}

} // namespace

bool stopProcess(int pid) {
    if (::kill(pid, SIGSTOP) != 0) return false;
    return waitFor([pid] { return allThreadsStopped(pid); });
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "plxtest-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only entries left by a test must not stop the clean-up.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

namespace {

EnvironmentWriter& environmentWriter() {
    static EnvironmentWriter writer{[](const char* name, const char* value) { ::setenv(name, value, 1); },
                                    [](const char* name) { ::unsetenv(name); }};
    return writer;
}

} // namespace

void useEnvironmentWriter(EnvironmentWriter writer) { environmentWriter() = writer; }

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadValue_ = true;
        oldValue_ = old;
    }
    environmentWriter().set(name_.c_str(), value.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (hadValue_)
        environmentWriter().set(name_.c_str(), oldValue_.c_str());
    else
        environmentWriter().unset(name_.c_str());
}

ScopedHome::ScopedHome()
    : home_("PLX_HOME", dir_.path().string()), runtime_("PLX_RUNTIME_DIR", (dir_.path() / ".run").string()) {}

ProgramRun runCaptured(const std::vector<std::string>& argv, const fs::path& workingFolder) {
    TempDir outputs;
    fs::path outPath = outputs / "out", errPath = outputs / "err";
    ProgramRun run;
    try {
        ChildProcess child(argv, ChildOptions{.input = ChildStream::null(),
                                              .output = ChildStream::toFile(outPath),
                                              .errors = ChildStream::toFile(errPath),
                                              .workingFolder = workingFolder});
        std::optional<int> status = child.wait();
        run.exitCode = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    } catch (const std::system_error&) {
        return run;
    }
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

namespace {

[[noreturn]] void runWithoutFreeInodes(const fs::path& folder, const std::function<std::string()>& body, int out) {
    std::string text = "no mount namespace";
    try {
        if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "nr_inodes=1,size=64k") == 0)
            text = body();
    } catch (const std::exception& e) {
        text = e.what();
    }
    (void)!::write(out, text.data(), text.size());
    ::_exit(0);
}

} // namespace

std::string withoutFreeInodes(const fs::path& folder, const std::function<std::string()>& body) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    pid_t pid = ::fork();
    if (pid == 0) runWithoutFreeInodes(folder, body, pipe[1]);
    ::close(pipe[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(pipe[0]);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return text;
}

void writeFile(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::filesystem::path makeTempFile(const std::filesystem::path& folder) {
    try {
        return createUniqueFile(folder.empty() ? systemTempFolder() : folder, kTempPrefix);
    } catch (...) {
        return {};
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    for (std::size_t comma; (comma = line.find(',', begin)) != std::string_view::npos; begin = comma + 1)
        fields.emplace_back(line.substr(begin, comma - begin));
    fields.emplace_back(line.substr(begin));
    return fields;
}

} // namespace plx::test
