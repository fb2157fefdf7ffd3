#pragma once
// The registry of this platform: one ini file, a section per key named by
// its full path ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), the key's values as the
// section's keys ("@" is the default value). Key and value names match
// without regard to ASCII case, as the ini layer compares them. A key exists
// when it has a section or a key below it has one.
//
// Every call reads the file again; every change is one read-modify-write
// under the ini layer's writer lock; a change that leaves no key removes
// the file. Failures to read or write the file throw
// std::system_error; names the ini format cannot carry throw IniFormatError.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace plx {

// PLX_REGISTRY when set, else registry.ini in the program folder.
std::filesystem::path registryStorePath();
// PLX_REGISTRY when set, else registry.ini in programFolder.
std::filesystem::path registryStorePath(const std::filesystem::path& programFolder);

// The name of a root key handle (0x80000002 -> "HKEY_LOCAL_MACHINE");
// nullopt for a handle that names no root.
std::optional<std::string> registryRootName(std::uint32_t rootHandle);
// root + "\" + path without its outer backslashes; just the root for an
// empty path.
std::string registryKeyName(std::string_view rootName, std::string_view path);

class RegistryStore {
public:
    explicit RegistryStore(std::filesystem::path file = registryStorePath());
    const std::filesystem::path& file() const { return file_; }

    // An empty value name stands for the default value.
    std::optional<std::string> readValue(std::string_view key, std::string_view name) const;
    void writeValue(std::string_view key, std::string_view name, std::string_view value);
    // False when the key or the value was not there.
    bool deleteValue(std::string_view key, std::string_view name);

    bool keyExists(std::string_view key) const;
    bool hasValues(std::string_view key) const;
    bool hasSubkeys(std::string_view key) const;
    // The key with its values and every key below it; false when none existed.
    bool deleteKey(std::string_view key);
    // The same for each of keys, in one rewrite of the store.
    bool deleteKeys(std::span<const std::string> keys);

private:
    std::filesystem::path file_;
};

} // namespace plx
