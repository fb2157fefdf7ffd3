#include "common/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/ProgramFolder.h"
#include "platform/Utf8.h"

namespace plx {

std::string getModuleFolder() {
    std::string folder = programFolder().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::optional<std::filesystem::path> findIniFile(std::string_view fileName) {
    std::string folder = getModuleFolder();
    if (folder.empty()) return std::nullopt;
    std::filesystem::path path = joinPath(folder, fileName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

bool pathExists(const std::filesystem::path& path, bool isFolder) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    if (!isFolder) return !S_ISDIR(st.st_mode);
    // access() alone says yes to root for any folder; a folder without any
    // write bit is read-only for everyone and counts as missing.
    return S_ISDIR(st.st_mode) && (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool isPlainFileName(std::string_view name, std::size_t maxCharacters) {
    if (name.empty() || name == "." || name == ".." || !isValidUtf8(name) || utf8Length(name) > maxCharacters)
        return false;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

} // namespace plx
