#include "uninstaller/SelfRegistration.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/ChildProcess.h"
#include "platform/Utf8.h"
#include "uninstaller/FileTrust.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUnregisterSwitch = "/unregserver";
constexpr const char* kUnregisterFunction = "DllUnregisterServer";

struct LibraryHandle {
    void* handle;
    ~LibraryHandle() {
        if (handle) ::dlclose(handle);
    }
};

void unregisterLibrary(const fs::path& path) {
    LibraryHandle library{::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)};
    if (!library.handle) throw UnregisterError(formatText(kLoadFailed, {path.string()}) + " " + ::dlerror());
    void* symbol = ::dlsym(library.handle, kUnregisterFunction);
    if (!symbol) throw UnregisterError(formatText(kNotFoundIn, {kUnregisterFunction, path.string()}));
    auto function = reinterpret_cast<long (*)()>(symbol);
    if (long result = function(); result < 0) {
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(result) & 0xFFFFFFFFul);
        throw UnregisterError(formatText(kCallFailed, {kUnregisterFunction, code}));
    }
}

void unregisterProgram(const fs::path& path, std::chrono::milliseconds limit) {
    try {
        ChildProcess program({path.string(), kUnregisterSwitch});
        auto status = program.waitFor(limit);
        if (!status) {
            program.kill();
            throw UnregisterError(formatText(kCallFailed, {path.string(), "time-out"}));
        }
        if (int code = exitCodeOf(*status); code != 0)
            throw UnregisterError(formatText(kCallFailed, {path.string(), "exit " + std::to_string(code)}));
    } catch (const std::system_error& e) {
        throw UnregisterError(formatText(kLoadFailed, {path.string()}) + " " + e.what());
    }
}

} // namespace

RegistrationKind registrationKind(const fs::path& path) {
    std::string name = toLowerAscii(path.filename().string());
    std::string ext = toLowerAscii(path.extension().string());
    if (ext == ".tlb" || ext == ".xml") return RegistrationKind::InterfaceFile;
    if (ext == ".so" || name.find(".so.") != std::string::npos) return RegistrationKind::SharedLibrary;
    return RegistrationKind::Program;
}

void unregisterFile(const fs::path& path, std::chrono::milliseconds limit) {
    // The file itself, as its age is checked: a link would run (or load)
    // whatever it points at, with the rights of this process.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw UnregisterError(formatText(kNotFound, {path.string()}));
    RegistrationKind kind = registrationKind(path);
    if (kind == RegistrationKind::InterfaceFile) return;
    if (S_ISLNK(st.st_mode)) throw UnregisterError(formatText(kSymbolicLink, {path.string()}));
    if (untrustedForThisProcess(st)) throw UnregisterError(formatText(kWritableByOthers, {path.string()}));
    if (kind == RegistrationKind::SharedLibrary)
        unregisterLibrary(path);
    else
        unregisterProgram(path, limit);
}

} // namespace plx::uninst
