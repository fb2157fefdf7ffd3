#pragma once
// Ini files read and written with the rules of the Windows profile functions:
// section and key names match without regard to ASCII case, the first of
// duplicate names wins, values are trimmed and lose one pair of enclosing
// quotes, lines that are not touched are kept on write. Nothing is cached:
// every load reads the file again. Writes replace the file through a
// temporary file and a rename, so a crash never leaves half a file.

#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace plx {

// A value, key or section name the ini format cannot carry (CR, LF, NUL,
// "]" in a section name, "=" in a key, ...).
class IniFormatError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The mode of an ini file that only its owner (the service) may read: the
// register and the stores hold what callers must not see of each other.
inline constexpr mode_t kPrivateFileMode = 0600;

// What an ini line can carry: a value without CR, LF or NUL; a section name
// that is such a value, not empty and without "]".
bool isIniValue(std::string_view value);
bool isIniSectionName(std::string_view name);

// One parsed ini file, for callers that read or change many values at once
// (while holding the lock that guards the file).
class IniDocument {
public:
    IniDocument() = default;
    // An empty document when the file does not exist. Throws
    // std::system_error when it exists but cannot be read.
    static IniDocument load(const std::filesystem::path& path);
    // As load, but nothing when the file does not exist.
    static std::optional<IniDocument> loadIfExists(const std::filesystem::path& path);
    static IniDocument parse(std::string_view text);

    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    std::string get(std::string_view section, std::string_view key, std::string_view fallback) const;
    // The leading decimal number of the value; fallback when the key is
    // missing or empty; 0 for a negative value or text that is not a number.
    int getInt(std::string_view section, std::string_view key, int fallback) const;
    bool hasSection(std::string_view section) const;
    std::vector<std::string> sectionNames() const;
    std::vector<std::string> keyNames(std::string_view section) const;

    // Throw IniFormatError for names and values the format cannot carry.
    void set(std::string_view section, std::string_view key, std::string_view value);
    void removeKey(std::string_view section, std::string_view key);
    void removeSection(std::string_view section);

    std::string text() const;
    // Atomic replace of path; keeps the old file's permissions as
    // keepPermissions (platform/FileAccess.h) does, or throws
    // std::system_error. A new file gets newFileMode less the umask.
    void save(const std::filesystem::path& path, mode_t newFileMode = 0666) const;
    // As save, for a file only its owner may read: it gets
    // kPrivateFileMode whatever mode it had (owner and group kept).
    void savePrivate(const std::filesystem::path& path) const;

private:
    struct Line {
        std::string raw;
        std::string key;   // empty: not a key line
        std::string value; // trimmed, quotes dropped
    };
    struct Section {
        std::string name;
        std::string header; // raw header line; empty for the lines before any header
        std::vector<Line> lines;
    };
    Section* findSection(std::string_view name);
    const Section* findSection(std::string_view name) const;

    void replace(const std::filesystem::path& path, mode_t newFileMode, bool keepMode) const;

    std::vector<Section> sections_; // the first holds lines before any header
    std::string eol_ = "\n";
};

// Throws the std::system_error that a save of path would meet before it
// writes anything: a folder where the temporary cannot be made and renamed,
// a file that cannot be read or is no regular file, or one that may not be
// replaced (immutable or append-only, another's in a sticky folder). The
// save itself may still fail (a full disk).
void checkReplaceable(const std::filesystem::path& path);

// Runs change on the loaded document and saves it, as one step under the
// process-wide writer lock of that file; a new file gets newFileMode less
// the umask.
template <typename Change>
void updateProfile(const std::filesystem::path& file, Change&& change, mode_t newFileMode = 0666);
// As updateProfile for a file only its owner may read (IniDocument::savePrivate).
template <typename Change>
void updatePrivateProfile(const std::filesystem::path& file, Change&& change);
// As updateProfile for a file that exists; a missing file stays missing
// (change is not run) and the answer is false.
template <typename Change>
bool updateExistingProfile(const std::filesystem::path& file, Change&& change);

// Implementation detail of updateProfile.
class IniWriterLock {
public:
    explicit IniWriterLock(const std::filesystem::path& file);
    IniWriterLock(const IniWriterLock&) = delete;
    IniWriterLock& operator=(const IniWriterLock&) = delete;

private:
    std::lock_guard<std::mutex> guard_;
};

template <typename Change>
void updateProfile(const std::filesystem::path& file, Change&& change, mode_t newFileMode) {
    IniWriterLock lock(file);
    IniDocument doc = IniDocument::load(file);
    change(doc);
    doc.save(file, newFileMode);
}

template <typename Change>
void updatePrivateProfile(const std::filesystem::path& file, Change&& change) {
    IniWriterLock lock(file);
    IniDocument doc = IniDocument::load(file);
    change(doc);
    doc.savePrivate(file);
}

template <typename Change>
bool updateExistingProfile(const std::filesystem::path& file, Change&& change) {
    IniWriterLock lock(file);
    std::optional<IniDocument> doc = IniDocument::loadIfExists(file);
    if (!doc) return false;
    change(*doc);
    doc->save(file);
    return true;
}

} // namespace plx
