#include "platform/RegistryStore.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Utf8.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

struct RootKey {
    std::uint32_t handle;
    const char* name;
};
constexpr RootKey kRootKeys[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT"}, {0x80000001u, "HKEY_CURRENT_USER"},   {0x80000002u, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, "HKEY_USERS"},        {0x80000005u, "HKEY_CURRENT_CONFIG"},
};

std::string valueKey(std::string_view name) { return name.empty() ? std::string("@") : std::string(name); }

// Is section a key strictly below key?
bool isBelow(std::string_view section, std::string_view key) {
    return section.size() > key.size() + 1 && section[key.size()] == '\\' &&
           equalsIgnoreCase(section.substr(0, key.size()), key);
}

bool anyBelow(const IniDocument& doc, std::string_view key) {
    for (const auto& section : doc.sectionNames())
        if (isBelow(section, key)) return true;
    return false;
}

} // namespace

fs::path registryStorePath(const fs::path& programFolder) {
    if (const char* r = std::getenv("PLX_REGISTRY"); r && *r) return r;
    return programFolder / "registry.ini";
}

fs::path registryStorePath() { return registryStorePath(programFolder()); }

std::optional<std::string> registryRootName(std::uint32_t rootHandle) {
    for (const auto& root : kRootKeys)
        if (root.handle == rootHandle) return root.name;
    return std::nullopt;
}

std::string registryKeyName(std::string_view rootName, std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::string key(rootName);
    if (!path.empty()) key.append("\\").append(path);
    return key;
}

namespace {

// A store with no key left is no store: the file goes, so a removal that
// empties it leaves nothing behind in the installation.
void saveStore(const IniDocument& doc, const fs::path& file) {
    if (!doc.sectionNames().empty()) {
        doc.save(file);
        return;
    }
    std::error_code ec;
    if (!fs::remove(file, ec) && ec) throw std::system_error(ec, "cannot remove " + file.string());
}

} // namespace

RegistryStore::RegistryStore(fs::path file) : file_(std::move(file)) {}

std::optional<std::string> RegistryStore::readValue(std::string_view key, std::string_view name) const {
    return IniDocument::load(file_).get(key, valueKey(name));
}

void RegistryStore::writeValue(std::string_view key, std::string_view name, std::string_view value) {
    updateProfile(file_, [&](IniDocument& doc) { doc.set(key, valueKey(name), value); });
}

bool RegistryStore::deleteValue(std::string_view key, std::string_view name) {
    IniWriterLock lock(file_);
    IniDocument doc = IniDocument::load(file_);
    if (!doc.get(key, valueKey(name))) return false;
    doc.removeKey(key, valueKey(name));
    saveStore(doc, file_);
    return true;
}

bool RegistryStore::keyExists(std::string_view key) const {
    IniDocument doc = IniDocument::load(file_);
    return doc.hasSection(key) || anyBelow(doc, key);
}

bool RegistryStore::hasValues(std::string_view key) const { return !IniDocument::load(file_).keyNames(key).empty(); }

bool RegistryStore::hasSubkeys(std::string_view key) const { return anyBelow(IniDocument::load(file_), key); }

bool RegistryStore::deleteKey(std::string_view key) {
    const std::string one(key);
    return deleteKeys({&one, 1});
}

bool RegistryStore::deleteKeys(std::span<const std::string> keys) {
    IniWriterLock lock(file_);
    IniDocument doc = IniDocument::load(file_);
    bool found = false;
    for (const auto& section : doc.sectionNames()) {
        bool named = std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
            return isBelow(section, key) || equalsIgnoreCase(section, key);
        });
        if (!named) continue;
        doc.removeSection(section);
        found = true;
    }
    if (found) saveStore(doc, file_); // an untouched store is not rewritten
    return found;
}

} // namespace plx
