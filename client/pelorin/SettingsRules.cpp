#include "client/pelorin/SettingsRules.h"

#include <array>
#include <functional>

#include "client/DateTimeText.h"
#include "common/CenterUrl.h"
#include "platform/Numbers.h"

namespace plx::pelorin {

namespace {

bool digitsOnly(const std::string& text) { return isAllDigits(text, text.size()); }

// A colon and at least one digit at the end.
bool endsInPort(const std::string& address) {
    std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 == address.size()) return false;
    return digitsOnly(address.substr(colon + 1));
}

bool validDays(const std::string& days) {
    auto value = parseInt32(days);
    return digitsOnly(days) && value && *value >= 1;
}

struct Input {
    const TerminalRec& terminal;
    const LogSettings& logs;
};

struct Rule {
    std::function<bool(const Input&)> broken;
    SettingsFault fault;
};

const std::array<Rule, 15>& rules() {
    using F = SettingsField;
    static const std::array<Rule, 15> table{{
        {[](const Input& in) { return in.terminal.TerminalID.empty(); },
         {0, F::TerminalID, "端末IDを入力してください"}},
        {[](const Input& in) { return !digitsOnly(in.terminal.TerminalID); },
         {0, F::TerminalID, "端末IDに数字を入力してください"}},
        {[](const Input& in) { return in.terminal.CenterID.empty(); },
         {0, F::CenterID, "センターIDを入力してください"}},
        {[](const Input& in) { return !digitsOnly(in.terminal.CenterID); },
         {0, F::CenterID, "センターIDに数字を入力してください"}},
        {[](const Input& in) { return !in.terminal.CenterURL.empty() && !isCenterUrl(in.terminal.CenterURL); },
         {0, F::CenterURL, "センターURLは http://ホスト名[:ポート番号]/ または https://… の形で入力してください"}},
        {[](const Input& in) { return in.terminal.Password.empty(); },
         {0, F::Password, "端末パスワードを入力してください"}},
        {[](const Input& in) { return !in.terminal.ProxyServer.empty() && !endsInPort(in.terminal.ProxyServer); },
         {0, F::ProxyServer, "プロクシーアドレスのポートを入力してください"}},
        {[](const Input& in) { return !in.terminal.ProxyServer.empty() && in.terminal.ProxyUser.empty(); },
         {0, F::ProxyServer, "プロクシーユーザーを入力してください"}},
        {[](const Input& in) { return !in.terminal.ProxyServer.empty() && in.terminal.ProxyPassword.empty(); },
         {0, F::ProxyServer, "プロクシーパスワードを入力してください"}},
        {[](const Input& in) { return in.logs.apiLogLocation.empty(); },
         {2, F::ApiLogLocation, "APIログ格納先フォルダを入力してください"}},
        {[](const Input& in) { return in.logs.apiLogDays.empty(); },
         {2, F::ApiLogDays, "APIログ保存日数を入力してください"}},
        {[](const Input& in) { return !validDays(in.logs.apiLogDays); },
         {2, F::ApiLogDays, "APIログ保存日数に整数を入力してください"}},
        {[](const Input& in) { return in.logs.sessionLogLocation.empty(); },
         {2, F::SessionLogLocation, "通信ログ格納先フォルダを入力してください"}},
        {[](const Input& in) { return in.logs.sessionLogDays.empty(); },
         {2, F::SessionLogDays, "通信ログ保存日数を入力してください"}},
        {[](const Input& in) { return !validDays(in.logs.sessionLogDays); },
         {2, F::SessionLogDays, "通信ログ保存日数に整数を入力してください"}},
    }};
    return table;
}

} // namespace

std::optional<SettingsFault> validateSettings(const TerminalRec& terminal, const LogSettings& logs) {
    Input input{terminal, logs};
    for (const Rule& rule : rules())
        if (rule.broken(input)) return rule.fault;
    return std::nullopt;
}

} // namespace plx::pelorin
