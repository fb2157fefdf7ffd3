#include "service/classes/TermInfoStore.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "common/Paths.h"
#include "common/Settings.h"
#include "platform/ProgramFolder.h"
#include "platform/Utf8.h"

namespace plx {

std::string termValue(const IniDocument& doc, std::string_view key) {
    return utf8Sanitize(doc.get(kTermSection, key, ""));
}

void saveTermInfo(const TerminalRec& rec) {
    std::filesystem::path folder = programFolder();
    if (folder.empty()) throw std::system_error(ENOENT, std::generic_category(), "no program folder");
    std::filesystem::path file = folder / kTermIni;
    updatePrivateProfile(file, [&](IniDocument& doc) {
        for (const TermKey& key : termKeys()) doc.set(kTermSection, key.name, iniValueText(rec.*key.field));
    });
}

std::string iniValueText(std::string_view value) {
    if (value.empty()) return {};
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    bool trimmed = blank(value.front()) || blank(value.back());
    bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (!trimmed && !quoted) return std::string(value);
    return "\"" + std::string(value) + "\"";
}

} // namespace plx
