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

const std::array<TermKey, 9>& termKeys() {
    static const std::array<TermKey, 9> keys{{
        {"terminalid", &TerminalRec::TerminalID, 16, "端末IDが未入力です", "端末IDが16桁を超えました",
         "端末IDに数字以外の文字が入力されました", "端末管理ファイルの端末IDが16桁を超えて設定されています",
         "端末IDが不正です"},
        {"centerid", &TerminalRec::CenterID, 16, "センタIDが未入力です", "センタIDが16桁を超えました",
         "センタIDに数字以外の文字が入力されました", "端末管理ファイルのセンタIDが16桁を超えて設定されています",
         "センタIDが不正です"},
        {"centerhost", &TerminalRec::CenterHost, 16, "", "センタホスト名が16桁を超えました", "",
         "端末管理ファイルのセンタホストが16桁を超えて設定されています", ""},
        {"centerurl", &TerminalRec::CenterURL, 256, "", "センタURLが256桁を超えました", "",
         "端末管理ファイルのセンタURLが256桁を超えて設定されています", ""},
        {"password", &TerminalRec::Password, 8, "パスワードが未入力です", "パスワードが8桁を超えました", "",
         "端末管理ファイルのパスワードが8桁を超えて設定されています", "端末パスワードが不正です"},
        {"protocolversion", &TerminalRec::ProtocolVersion, 4, "", "プロトコルバージョンが4桁を超えました", "",
         "端末管理ファイルのプロトコルバージョンが4桁を超えて設定されています", ""},
        {"proxyserver", &TerminalRec::ProxyServer, 256, "", "プロクシーURLが256桁を超えました", "",
         "端末管理ファイルのプロキシ－アドレスが256桁を超えて設定されています", ""},
        {"proxyuser", &TerminalRec::ProxyUser, 256, "", "プロクシーユーザーが256桁を超えました", "",
         "端末管理ファイルのプロキシーユーザが256桁を超えて設定されています", ""},
        {"proxypassword", &TerminalRec::ProxyPassword, 256, "", "プロクシーパスワードが256桁を超えました", "",
         "端末管理ファイルのプロキシーパスワードが256桁を超えて設定されています", ""},
    }};
    return keys;
}

std::optional<IniDocument> loadTermIni() {
    auto path = findIniFile(kTermIni);
    if (!path) return std::nullopt;
    return IniDocument::load(*path);
}

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
