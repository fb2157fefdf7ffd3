#pragma once
// What the removal shows while it runs: the main dialog's progress bar and
// row of stage marks, and the question asked about a shared file. The
// engine depends on this interface only, so it runs without a window.

#include <chrono>
#include <filesystem>

namespace plx::uninst {

// The question dialog's buttons, by their identifiers.
enum class SharedFileAnswer { Yes = 101, YesToAll = 102, No = 103, NoToAll = 104 };

class RemovalView {
public:
    virtual ~RemovalView() = default;
    // Range 0..maximum, position 0, step 1.
    virtual void setProgressRange(int maximum) = 0;
    virtual void stepProgress() = 0;
    // The pause after each item, while the window stays live.
    virtual void pause(std::chrono::milliseconds duration) = 0;
    virtual int stageMarkCount() const = 0;
    virtual void showStageMark(int index) = 0;
    // Asked, over the main dialog, before a shared file no program counts
    // any more is deleted.
    virtual SharedFileAnswer askRemoveSharedFile(const std::filesystem::path& file) = 0;
};

} // namespace plx::uninst
