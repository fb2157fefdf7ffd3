#include "tests/uninstaller/UninstallFixture.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace plx::test {

namespace fs = std::filesystem;

namespace {

const char* flag(bool value) { return value ? "Yes" : "No"; }

bool setImmutable(const fs::path& file, bool on) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    int flags = 0;
    if (!fd || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace

std::string fileItem(int index, const FileEntry& e) {
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };
    return "File" + std::to_string(index) + "=" + quoted(e.path) + "," + quoted(e.text) + ",No,0," +
           flag(e.selfRegistering) + "," + flag(e.shared) + ",0," + quoted(e.fontValueName) + "," +
           std::to_string(e.fileTime) + "," + flag(e.font) + "\n";
}

std::string infoText(const std::string& baseDir, const std::vector<FileEntry>& files,
                     const std::vector<std::string>& regItems, const std::string& extraHeader) {
    // The extra entries first: the first of equal names wins.
    std::string text = extraHeader + "Ver=1\nAppCompany=Test Company\nAppName=App\nTitle=Test/App\nBaseDir=" + baseDir +
                       "\nInstallerType=0\nFileCount=" + std::to_string(files.size()) +
                       "\nRegCount=" + std::to_string(regItems.size()) + "\n";
    for (std::size_t i = 0; i < files.size(); ++i) text += fileItem(static_cast<int>(i), files[i]);
    for (std::size_t i = 0; i < regItems.size(); ++i) text += "Reg" + std::to_string(i) + "=" + regItems[i] + "\n";
    return text;
}

std::int64_t fileAge(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

void RecordingView::stepProgress() {
    ++steps;
    if (onStep) onStep();
}

void RecordingView::showStageMark(int index) {
    marks.push_back(index);
    stepsAtMark.push_back(steps);
}

uninst::SharedFileAnswer RecordingView::askRemoveSharedFile(const fs::path& file) {
    questions.push_back(file);
    if (answers.empty()) return uninst::SharedFileAnswer::No;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

Undeletable::Undeletable(fs::path file) : file_(std::move(file)) {
    if (::geteuid() == 0) {
        immutable_ = setImmutable(file_, true);
        return;
    }
    lockedFolder_ = ::chmod(file_.parent_path().c_str(), 0555) == 0;
}

Undeletable::~Undeletable() {
    if (immutable_) setImmutable(file_, false);
    if (lockedFolder_) ::chmod(file_.parent_path().c_str(), 0755);
}

} // namespace plx::test
