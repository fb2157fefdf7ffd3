#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <map>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/FileAccess.h"
#include "platform/Numbers.h"
#include "platform/PendingFile.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view dropQuotes(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

bool hasLineBreakOrNul(std::string_view s) { return !isIniValue(s); }

void checkSectionName(std::string_view section) {
    if (!isIniSectionName(section)) throw IniFormatError("section name not allowed in an ini file");
}

void checkKeyName(std::string_view key) {
    std::string_view t = trim(key);
    if (t.empty() || hasLineBreakOrNul(key) || key.find('=') != std::string_view::npos || t.front() == '[' ||
        t.front() == ';')
        throw IniFormatError("key name not allowed in an ini file");
}

void checkValue(std::string_view value) {
    if (hasLineBreakOrNul(value)) throw IniFormatError("value holds a line break or NUL");
}

std::mutex& writerMutexFor(const fs::path& file) {
    static std::mutex registryMutex;
    static std::map<std::string, std::unique_ptr<std::mutex>> registry;
    std::error_code ec;
    fs::path key = fs::absolute(file, ec).lexically_normal();
    std::lock_guard lock(registryMutex);
    auto& slot = registry[ec ? file.string() : key.string()];
    if (!slot) slot = std::make_unique<std::mutex>();
    return *slot;
}

} // namespace

IniDocument IniDocument::load(const fs::path& path) {
    std::optional<IniDocument> doc = loadIfExists(path);
    return doc ? std::move(*doc) : IniDocument{};
}

std::optional<IniDocument> IniDocument::loadIfExists(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        int error = errno;
        if (error == ENOENT || error == ENOTDIR) return std::nullopt;
        throw std::system_error(error, std::generic_category(), "open " + path.string());
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = readSome(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            int error = errno;
            throw std::system_error(error, std::generic_category(), "read " + path.string());
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return parse(text);
}

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument doc;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (auto nl = text.find('\n'); nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r') doc.eol_ = "\r\n";
    doc.sections_.push_back(Section{});
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        std::string_view t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            std::string_view name = t.substr(1);
            name = name.substr(0, name.find(']'));
            doc.sections_.push_back(Section{std::string(trim(name)), std::string(raw), {}});
            continue;
        }
        Line line{std::string(raw), {}, {}};
        if (!t.empty() && t.front() != ';') {
            if (auto eq = t.find('='); eq != std::string_view::npos && !trim(t.substr(0, eq)).empty()) {
                line.key = std::string(trim(t.substr(0, eq)));
                line.value = std::string(dropQuotes(trim(t.substr(eq + 1))));
            }
        }
        doc.sections_.back().lines.push_back(std::move(line));
    }
    return doc;
}

IniDocument::Section* IniDocument::findSection(std::string_view name) {
    return const_cast<Section*>(std::as_const(*this).findSection(name));
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const {
    name = trim(name);
    for (std::size_t i = 1; i < sections_.size(); ++i)
        if (equalsIgnoreCase(sections_[i].name, name)) return &sections_[i];
    return nullptr;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    const Section* s = findSection(section);
    if (!s) return std::nullopt;
    key = trim(key);
    for (const Line& line : s->lines)
        if (!line.key.empty() && equalsIgnoreCase(line.key, key)) return line.value;
    return std::nullopt;
}

std::string IniDocument::get(std::string_view section, std::string_view key, std::string_view fallback) const {
    auto value = get(section, key);
    return value ? *value : std::string(fallback);
}

int IniDocument::getInt(std::string_view section, std::string_view key, int fallback) const {
    auto value = get(section, key);
    if (!value || value->empty()) return fallback;
    std::int64_t number = leadingDecimal(*value);
    if (number < 0) return 0;
    return number > INT_MAX ? INT_MAX : static_cast<int>(number);
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section) != nullptr; }

std::vector<std::string> IniDocument::sectionNames() const {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        const std::string& name = sections_[i].name;
        bool seen =
            std::any_of(names.begin(), names.end(), [&](const std::string& n) { return equalsIgnoreCase(n, name); });
        if (!seen) names.push_back(name);
    }
    return names;
}

std::vector<std::string> IniDocument::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    if (const Section* s = findSection(section))
        for (const Line& line : s->lines) {
            if (line.key.empty()) continue;
            bool seen = std::any_of(names.begin(), names.end(),
                                    [&](const std::string& n) { return equalsIgnoreCase(n, line.key); });
            if (!seen) names.push_back(line.key);
        }
    return names;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    checkSectionName(section);
    checkKeyName(key);
    checkValue(value);
    if (sections_.empty()) sections_.push_back(Section{});
    Section* s = findSection(section);
    if (!s) {
        std::string name(trim(section));
        sections_.push_back(Section{name, "[" + name + "]", {}});
        s = &sections_.back();
    }
    std::string trimmedKey(trim(key));
    for (Line& line : s->lines) {
        if (!line.key.empty() && equalsIgnoreCase(line.key, trimmedKey)) {
            line.raw = line.key + "=" + std::string(value);
            line.value = std::string(dropQuotes(trim(value)));
            return;
        }
    }
    // New keys go after the section's last non-blank line, before the blank
    // lines that separate it from the next section.
    auto insertAt = s->lines.end();
    while (insertAt != s->lines.begin() && trim(std::prev(insertAt)->raw).empty()) --insertAt;
    s->lines.insert(insertAt,
                    Line{trimmedKey + "=" + std::string(value), trimmedKey, std::string(dropQuotes(trim(value)))});
}

void IniDocument::removeKey(std::string_view section, std::string_view key) {
    key = trim(key);
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        if (!equalsIgnoreCase(sections_[i].name, trim(section))) continue;
        auto& lines = sections_[i].lines;
        std::erase_if(lines, [&](const Line& line) { return !line.key.empty() && equalsIgnoreCase(line.key, key); });
    }
}

void IniDocument::removeSection(std::string_view section) {
    if (sections_.empty()) return;
    std::string_view name = trim(section);
    sections_.erase(std::remove_if(sections_.begin() + 1, sections_.end(),
                                   [&](const Section& s) { return equalsIgnoreCase(s.name, name); }),
                    sections_.end());
}

std::string IniDocument::text() const {
    std::string out;
    for (const Section& s : sections_) {
        if (!s.header.empty()) out += s.header + eol_;
        for (const Line& line : s.lines) out += line.raw + eol_;
    }
    return out;
}

void IniDocument::save(const fs::path& path, mode_t newFileMode) const { replace(path, newFileMode, true); }

void IniDocument::savePrivate(const fs::path& path) const { replace(path, kPrivateFileMode, false); }

namespace {

// The file a replace of requested writes (a link's target: the link stays)
// and the folder its temporary is made and renamed in.
struct ReplacedFile {
    fs::path path;
    fs::path folder;
};

ReplacedFile replacedFile(const fs::path& requested) {
    std::error_code ec;
    fs::path path = fs::is_symlink(requested, ec) ? fs::canonical(requested) : requested;
    fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    return {path, folder};
}

[[noreturn]] void failWith(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

void checkReplaceable(const fs::path& requested) {
    auto [path, folder] = replacedFile(requested);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        failWith(errno, "write in " + folder.string());
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return; // made new
        failWith(errno, "open " + path.string());
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) failWith(errno, "stat " + path.string());
    if (!S_ISREG(st.st_mode)) failWith(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "replace " + path.string());
    // The rename is refused even where the folder may be written.
    int flags = 0;
    if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0)
        failWith(EPERM, "replace " + path.string() + " (immutable or append-only)");
    struct stat dir {};
    const uid_t me = ::geteuid();
    if (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0 && st.st_uid != me && dir.st_uid != me &&
        me != 0)
        failWith(EPERM, "replace " + path.string() + " (another's in a sticky folder)");
}

void IniDocument::replace(const fs::path& requested, mode_t newFileMode, bool keepMode) const {
    auto [path, folder] = replacedFile(requested);
    struct stat old {};
    UniqueFd oldFd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    bool existed = oldFd && ::fstat(oldFd.get(), &old) == 0;

    UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) failWith(errno, "open " + folder.string());
    std::optional<PendingFile> pending;
    try {
        pending.emplace(dir.get(), newFileMode);
    } catch (const std::system_error& e) {
        failWith(e.code().value(), "create in " + folder.string() + " for " + path.filename().string());
    }
    PendingFile& file = *pending;
    std::string content = text();
    if (!writeAll(file.fd(), content.data(), content.size())) failWith(errno, "write " + path.string());
    // An owner or group this writer may not set keeps its access by ACL;
    // a private file never passes through its old group or other rights.
    struct stat kept = old;
    if (!keepMode) kept.st_mode &= ~mode_t{077};
    if (existed) file.keepPermissionsOf(oldFd.get(), kept);
    if (!keepMode && ::fchmod(file.fd(), newFileMode) != 0) failWith(errno, "chmod " + path.string());
    try {
        file.replace(path.filename().string());
    } catch (const std::system_error& e) {
        failWith(e.code().value(), "rename to " + path.string());
    }
    UniqueFd synced(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (synced) ::fsync(synced.get());
}

bool isIniValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool isIniSectionName(std::string_view name) {
    return !name.empty() && isIniValue(name) && name.find(']') == std::string_view::npos;
}

IniWriterLock::IniWriterLock(const fs::path& file) : guard_(writerMutexFor(file)) {}

} // namespace plx
