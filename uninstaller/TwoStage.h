#pragma once
// The two stages of a run. The program the user starts (first stage) copies
// itself to a "~cu" temporary file, starts the copy (second stage) with
//   <copy> <information file> <started program> $<first stage's pid in hex>
// and waits until the copy has ended, passing on the signals that end a run.
// The copy shows the dialog, removes the installation, deletes the started
// program and, when it ends, itself.

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/UniqueFd.h"

namespace plx::uninst {

// The running program's own file.
std::filesystem::path ownProgramPath();
// The information file a start without argument uses: the program's own
// path with the extension ".wqi".
std::filesystem::path defaultInfoFile(const std::filesystem::path& program);
// A program whose extension is ".tmp" (in any case) is the second stage.
bool isSecondStage(const std::filesystem::path& program);

// A copy of the running program, executable, as "~cu<HEX>.tmp" in the
// temporary folder. Throws std::system_error.
std::filesystem::path makeStageCopy();
std::vector<std::string> secondStageCommand(const std::filesystem::path& copy, const std::filesystem::path& infoFile,
                                            const std::filesystem::path& startedProgram, pid_t firstStage);
// The signals that end a run: the first stage passes them to the second.
inline constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Has file deleted when one of kEndingSignals ends this process (the signal
// then ends it as it would have). For the second stage's own copy.
void deleteOnEndingSignal(const std::filesystem::path& file);
// Deletes that file at once, for an end that runs no destructors;
// async-signal-safe.
void deleteMarkedFileNow();
// Deletes path, trying again while it fails (at most tries times, interval
// apart); true when it is gone.
bool deleteWithRetries(const std::filesystem::path& path, int tries = 12,
                       std::chrono::milliseconds interval = std::chrono::milliseconds(250));

// The single instance of an installation's uninstaller: a lock file named by
// a hash of Title, holding the title of the holder's window.
class InstanceLock {
public:
    // The lock, or nullopt when another process holds it.
    static std::optional<InstanceLock> take(const std::string& title, const std::string& windowTitle);
    // The window title the holder left (empty when none can be read).
    static std::string holderWindowTitle(const std::string& title);
    static std::string lockName(const std::string& title);

private:
    explicit InstanceLock(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

} // namespace plx::uninst
