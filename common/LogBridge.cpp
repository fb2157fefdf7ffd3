#include "common/LogBridge.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

#include "api/LogLayout.h"
#include "common/PLlogAbi.h"
#include "platform/Utf8.h"

namespace plx {

namespace {

constexpr int kNotLoaded = 0;
constexpr int kLoaded = 1;

// The library for the span of one record.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string& path) : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() {
        if (handle_) ::dlclose(handle_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }

    template <class Fn>
    Fn find(const char* name) const {
        return reinterpret_cast<Fn>(::dlsym(handle_, name));
    }

private:
    void* handle_;
};

// Loads the library, calls export name with args when it is there, unloads.
template <class Fn, class... Args>
int callExport(const char* name, Args... args) {
    LoadedLibrary library(logLibraryPath());
    if (!library) return kNotLoaded;
    if (Fn fn = library.find<Fn>(name)) fn(args...);
    return kLoaded;
}

PLlogTerminalRec toAbi(const TerminalRec& r) {
    return {r.TerminalID.c_str(),  r.CenterID.c_str(),  r.CenterHost.c_str(),
            r.CenterURL.c_str(),   r.Password.c_str(),  r.ProtocolVersion.c_str(),
            r.ProxyServer.c_str(), r.ProxyUser.c_str(), r.ProxyPassword.c_str()};
}

PLlogFileRec toAbi(const FileRec& r) {
    return {r.FileType.c_str(),        r.DataName.c_str(),       r.ServiceNo,           r.ProtocolFilename.c_str(),
            r.AccessKey.c_str(),       r.RecordLength,           r.CompressID,          r.UserData.c_str(),
            r.SvDataFilename.c_str(),  r.ClTempFilename.c_str(), r.SetDateTime.c_str(), r.FileSize,
            r.ClDataDirectory.c_str(), r.ClDataFilename.c_str(), r.LimitDate.c_str(),   r.Status};
}

} // namespace

std::string logLibraryPath() {
    if (const char* path = std::getenv("PLX_PLLOG_LIBRARY"); path && *path) return path;
    // dlopen of a bare name would not look in the program's folder, so the
    // path is always absolute.
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return (exe.parent_path() / "libPLlog.so").string();
}

int callLogAPI(std::int16_t type, std::int32_t code, std::int32_t detail, std::string_view message,
               std::string_view sessionId, std::string_view apiName, std::string_view argumentLine) {
    try {
        // Only our own allocations can throw here; the caller must not notice.
        // No more than a line can hold goes to the library.
        auto cut = [](std::string_view text) { return utf8Truncate(text, ApiLog::kLineLimit); };
        std::string m = cut(message), s = cut(sessionId), a = cut(apiName), l = cut(argumentLine);
        return callExport<PLlogLogApiFn>("logAPI", type, code, detail, m.c_str(), s.c_str(), a.c_str(), l.c_str());
    } catch (...) {
        return kNotLoaded;
    }
}

int callSessionAPI(const SessionRecord& r) {
    try {
        std::string st(r.start), en(r.end), id(r.sessionId), cf(r.centerFileName), ln(r.loadNo), rk(r.recordKey);
        PLlogTerminalRec cTerm{};
        PLlogFileRec cFile{};
        if (r.terminal) cTerm = toAbi(*r.terminal);
        if (r.file) cFile = toAbi(*r.file);
        // The detail only means something next to result code 1.
        std::int32_t loggedDetail = r.resultCode == 1 ? r.detail : 0;
        // The library's reserved argument is never read: always 0.
        return callExport<PLlogSessionApiFn>("sessionAPI", r.type, r.level, st.c_str(), en.c_str(), r.transferKind,
                                             r.phase, r.resultCode, loggedDetail, id.c_str(),
                                             r.terminal ? &cTerm : nullptr, r.file ? &cFile : nullptr, 0, cf.c_str(),
                                             ln.c_str(), rk.c_str());
    } catch (...) {
        return kNotLoaded;
    }
}

} // namespace plx
