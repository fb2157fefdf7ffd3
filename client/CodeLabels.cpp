#include "client/CodeLabels.h"

#include <span>

namespace plx {

namespace {

struct CodeLabel {
    std::string_view code;
    std::string_view label;
};

std::string labelOf(std::span<const CodeLabel> table, std::string_view code) {
    for (const CodeLabel& row : table)
        if (row.code == code) return std::string(row.label);
    return "Unknown(" + std::string(code) + ")";
}

constexpr CodeLabel kLogLevels[] = {
    {"0", "情報(0)"},
    {"1", "警告(1)"},
    {"2", "エラー(2)"},
};

constexpr CodeLabel kTransferKinds[] = {
    {"10", "端末起動配信(10)"},
    {"20", "端末起動集信(20)"},
    {"30", "センタ起動配信(30)"},
    {"40", "センタ起動集信(40)"},
};

constexpr CodeLabel kMessageKinds[] = {
    {"10", "認証要求(10)"}, {"11", "認証回答(11)"}, {"20", "送信要求(20)"},
    {"21", "送信回答(21)"}, {"30", "完了報告(30)"}, {"31", "完了回答(31)"},
};

// The center's vocabulary as the service's transfers report it.
constexpr CodeLabel kResultCodes[] = {
    {"00", "正常(00)"},
    {"01", "通信障害(01)"},
    {"10", "電文不正(10)"},
    {"11", "業務番号不正(11)"},
    {"12", "自端末ID不正(12)"},
    {"13", "相手端末ID不正(13)"},
    {"14", "サービス時間外(14)"},
    {"15", "パスワード不正(15)"},
    {"16", "セッション数超過(16)"},
    {"17", "該当端末通信中(17)"},
    {"18", "証明書不正(18)"},
    {"19", "IPアドレス不正(19)"},
    {"30", "プロトコル上ファイル名不正(30)"},
    {"31", "ファイルアクセスキー不正(31)"},
    {"32", "ファイルなし(32)"},
    {"33", "二重ファイル転送(33)"},
    {"34", "ファイル準備未完了(34)"},
    {"35", "アプリケーション未接続(35)"},
    {"41", "ファイル長不正(41)"},
    {"43", "レコード数不正(43)"},
    {"44", "レコードフラグ不正(44)"},
    {"50", "データ圧縮フラグ不正(50)"},
    {"51", "データ解凍失敗(51)"},
    {"99", "その他障害(99)"},
};

constexpr CodeLabel kCompressFlags[] = {
    {"0", "圧縮なし(0)"},
    {"1", "gzipによる圧縮(1)"},
};

constexpr CodeLabel kRecordFormats[] = {
    {"0", "固定長(0)"},
    {"1", "可変長(1)"},
};

} // namespace

std::string logLevelLabel(std::string_view code) { return labelOf(kLogLevels, code); }
std::string transferKindLabel(std::string_view code) { return labelOf(kTransferKinds, code); }
std::string messageKindLabel(std::string_view code) { return labelOf(kMessageKinds, code); }
std::string resultCodeLabel(std::string_view code) { return labelOf(kResultCodes, code); }
std::string compressLabel(std::string_view code) { return labelOf(kCompressFlags, code); }
std::string recordFormatLabel(std::string_view code) { return labelOf(kRecordFormats, code); }

} // namespace plx
