#include "client/ClientIni.h"

#include <optional>

#include "platform/IniFile.h"
#include "platform/ProgramFolder.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kConfigIni = "plconfig.ini";
constexpr std::string_view kAppIni = "plxapp.ini";

struct IniKey {
    std::string_view section;
    std::string_view key;
};
constexpr IniKey kApiLogLocation{"apilog", "location"};
constexpr IniKey kApiLogDays{"apilog", "days"};
constexpr IniKey kSessionLogLocation{"sessionlog", "location"};
constexpr IniKey kSessionLogDays{"sessionlog", "days"};
constexpr std::string_view kClientFileNameKey = "clfilename";
constexpr std::string_view kDirectionKey = "sendrecv";

std::optional<fs::path> iniPath(std::string_view name) {
    fs::path folder = programFolder();
    if (folder.empty()) return std::nullopt;
    return folder / name;
}

// The file as it is now; empty when it is missing or cannot be read.
IniDocument loadForReading(std::string_view name) {
    auto path = iniPath(name);
    if (!path) return {};
    try {
        return IniDocument::load(*path);
    } catch (const std::system_error&) {
        return {};
    }
}

// Runs work on the file's path, with its failures as ClientIniError.
template <typename Work>
void onFile(std::string_view name, Work&& work) {
    auto path = iniPath(name);
    if (!path)
        throw ClientIniError(name, std::make_error_code(std::errc::no_such_file_or_directory),
                             "the program's folder is unknown");
    try {
        work(*path);
    } catch (const IniFormatError& e) {
        throw ClientIniError(*path, std::make_error_code(std::errc::invalid_argument), e.what());
    } catch (const std::system_error& e) {
        throw ClientIniError(*path, e.code(), e.what());
    }
}

template <typename Change>
void update(std::string_view name, Change&& change) {
    onFile(name, [&](const fs::path& path) { updateProfile(path, change); });
}

} // namespace

ClientIniError::ClientIniError(fs::path file, std::error_code code, const std::string& what)
    : std::runtime_error(file.string() + ": " + what), file_(std::move(file)), code_(code) {}

LogSettings readLogSettings() {
    IniDocument doc = loadForReading(kConfigIni);
    auto get = [&](const IniKey& k) { return doc.get(k.section, k.key, ""); };
    return {get(kApiLogLocation), get(kApiLogDays), get(kSessionLogLocation), get(kSessionLogDays)};
}

void writeLogSettings(const LogSettings& settings) {
    update(kConfigIni, [&](IniDocument& doc) {
        auto set = [&](const IniKey& k, const std::string& value) { doc.set(k.section, k.key, value); };
        set(kApiLogLocation, settings.apiLogLocation);
        set(kApiLogDays, settings.apiLogDays);
        set(kSessionLogLocation, settings.sessionLogLocation);
        set(kSessionLogDays, settings.sessionLogDays);
    });
}

void checkLogSettingsWritable() {
    onFile(kConfigIni, [](const fs::path& path) { checkReplaceable(path); });
}

void checkAppIniWritable(const DataKindTable& kinds) {
    if (kinds.empty()) return;
    onFile(kAppIni, [](const fs::path& path) { checkReplaceable(path); });
}

void readAppIni(DataKindTable& kinds) {
    if (kinds.empty()) return;
    IniDocument doc = loadForReading(kAppIni);
    for (DataKind& kind : kinds) {
        kind.app.clientFileName = doc.get(kind.file.FileType, kClientFileNameKey, "");
        kind.app.direction = doc.get(kind.file.FileType, kDirectionKey, "");
    }
}

void writeAppIni(const DataKindTable& kinds) {
    if (kinds.empty()) return;
    update(kAppIni, [&](IniDocument& doc) {
        for (const DataKind& kind : kinds) {
            doc.set(kind.file.FileType, kClientFileNameKey, kind.app.clientFileName);
            doc.set(kind.file.FileType, kDirectionKey, kind.app.direction);
        }
    });
}

} // namespace plx
