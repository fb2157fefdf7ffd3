#include "platform/ProgramFolder.h"

#include <cstdlib>
#include <system_error>

namespace plx {

std::filesystem::path programFolder(const std::filesystem::path& program) {
    if (const char* home = std::getenv("PLX_HOME"); home && *home) return std::filesystem::path(home);
    return program.parent_path();
}

std::filesystem::path programFolder() {
    if (const char* home = std::getenv("PLX_HOME"); home && *home) return std::filesystem::path(home);
    return executableFolder();
}

std::filesystem::path executableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) return {};
    return exe.parent_path();
}

std::filesystem::path installRoot() {
    if (const char* root = std::getenv("PLX_INSTALL_ROOT"); root && *root) return std::filesystem::path(root);
    return "/";
}

} // namespace plx
