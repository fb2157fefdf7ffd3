#pragma once
// Helpers of the uninstaller's tests: install-information files, a view
// that records what the engine shows and answers its questions, and files
// that cannot be deleted.

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "uninstaller/RemovalView.h"

namespace plx::test {

struct FileEntry {
    FileEntry(std::string p, bool isShared = false, bool isSelfRegistering = false)
        : path(std::move(p)), shared(isShared), selfRegistering(isSelfRegistering) {}

    std::string path;
    bool shared = false;
    bool selfRegistering = false;
    bool font = false;
    std::string fontValueName;
    std::int64_t fileTime = 0;
    std::string text; // not empty: the folders above are kept
};

// "File<index>=..." with the path quoted.
std::string fileItem(int index, const FileEntry& entry);
// An install-information file's text: extraHeader's entries (which win over
// the defaults), the header (Title "Test/App", the given BaseDir and counts)
// and the item lines.
std::string infoText(const std::string& baseDir, const std::vector<FileEntry>& files,
                     const std::vector<std::string>& regItems = {}, const std::string& extraHeader = {});
// The file's age as the install step records it.
std::int64_t fileAge(const std::filesystem::path& path);

class RecordingView : public uninst::RemovalView {
public:
    void setProgressRange(int maximum) override { range = maximum; }
    void stepProgress() override;
    void pause(std::chrono::milliseconds) override { ++pauses; }
    int stageMarkCount() const override { return markCount; }
    void showStageMark(int index) override;
    uninst::SharedFileAnswer askRemoveSharedFile(const std::filesystem::path& file) override;

    std::deque<uninst::SharedFileAnswer> answers; // "no" once they run out
    int markCount = 4;
    std::function<void()> onStep;

    int range = -1;
    int steps = 0;
    int pauses = 0;
    std::vector<int> marks;       // in the order shown
    std::vector<int> stepsAtMark; // steps done when each was shown
    std::vector<std::filesystem::path> questions;
};

// A file that cannot be deleted for the scope: the immutable attribute when
// running as root, else a read-only folder (so keep it in a folder of its own).
class Undeletable {
public:
    explicit Undeletable(std::filesystem::path file);
    ~Undeletable();
    Undeletable(const Undeletable&) = delete;
    Undeletable& operator=(const Undeletable&) = delete;
    // False when the file system offers neither way (the test is skipped).
    bool active() const { return immutable_ || lockedFolder_; }

private:
    std::filesystem::path file_;
    bool immutable_ = false;
    bool lockedFolder_ = false;
};

} // namespace plx::test
