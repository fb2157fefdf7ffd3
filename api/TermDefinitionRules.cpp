#include "api/TermDefinitionRules.h"

#include <algorithm>

#include "api/ApiErrors.h"

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

std::optional<std::size_t> storedTermFault(std::int32_t code, std::string_view message) {
    if (code != kApiSystemError || message.empty()) return std::nullopt;
    const auto& keys = termKeys();
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (message == keys[i].storedTooLongText || message == keys[i].storedEmptyText) return i;
    return std::nullopt;
}

std::optional<ArgumentFault> checkTermDefinition(const TerminalRec& rec) {
    const auto& keys = termKeys();
    auto at = [](std::size_t i) { return static_cast<std::int32_t>(i + 1); };
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // An empty value is never too long: the rule's order of checks cannot matter here.
        if (auto text = lengthFault(rec.*keys[i].field, {keys[i].limit, keys[i].tooLongText, keys[i].missingText}))
            return ArgumentFault{at(i), *text};
    }
    auto digits = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!keys[i].notDigitsText.empty() && !digits(rec.*keys[i].field))
            return ArgumentFault{at(i), keys[i].notDigitsText};
    }
    // A line break would end the value's line in plterm.ini.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!fitsIniValue(rec.*keys[i].field)) return ArgumentFault{at(i), kUnstorableText};
    }
    return std::nullopt;
}

} // namespace plx
