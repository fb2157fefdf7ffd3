#pragma once
// Shared helpers of the tests: scratch folders, environment overrides and
// waits that hold on a busy machine.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace plx::test {

// How many times slower than a quiet machine this one may be:
// PLX_TEST_TIME_FACTOR, 5 when unset or not a number of at least 1. A bound
// the system keeps is checked against its configured value stretched by it.
double timeFactor();
// duration stretched by timeFactor().
std::chrono::milliseconds scaled(std::chrono::milliseconds duration);
// The ceiling of a wait for an event that comes unless something hangs.
std::chrono::milliseconds hangCeiling();
// Checks ready until it holds; false when ceiling passed first.
bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds ceiling = hangCeiling());
// Sends pid SIGSTOP and returns once every thread of it has stopped: kill()
// returns before that, and on a busy machine a thread already awake may
// still answer a call. False when that did not come within the ceiling.
bool stopProcess(int pid);

// A fresh folder under the system temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// How ScopedEnv sets and clears a variable: setenv and unsetenv unless a
// test binary gives its own. A QtTest binary gives Qt's: its watchdog
// thread reads the environment under Qt's lock at every test function, and
// a plain setenv beside that read can free the array it walks.
struct EnvironmentWriter {
    void (*set)(const char* name, const char* value);
    void (*unset)(const char* name);
};
void useEnvironmentWriter(EnvironmentWriter writer);

// Sets an environment variable for the scope and restores it after.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool hadValue_ = false;
    std::string oldValue_;
};

// A program folder of its own (PLX_HOME) and a lock folder of its own
// (PLX_RUNTIME_DIR) for the scope.
class ScopedHome {
public:
    ScopedHome();
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path operator/(std::string_view name) const { return dir_ / name; }

private:
    TempDir dir_;
    ScopedEnv home_;
    ScopedEnv runtime_;
};

// What a program run to its end left behind.
struct ProgramRun {
    int exitCode = -1; // -1: it could not start, or a signal ended it
    std::string out;
    std::string err;
};
// Runs argv[0] (a path) with this process's environment, standard input
// empty, in workingFolder (empty: this process's), and waits for it.
ProgramRun runCaptured(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder = {});

// What body returns, run in a child process that sees folder as an empty
// file system without a free inode (its own mount namespace; needs root).
std::string withoutFreeInodes(const std::filesystem::path& folder, const std::function<std::string()>& body);

void writeFile(const std::filesystem::path& path, std::string_view content);
// A new empty "@zv….tmp" file in folder (the system temporary folder when
// empty), left for the caller to remove; empty path when it cannot be made.
std::filesystem::path makeTempFile(const std::filesystem::path& folder = {});
std::string readFile(const std::filesystem::path& path);

// The comma-separated fields of a log line, empty ones included.
std::vector<std::string> splitFields(std::string_view line);

} // namespace plx::test
