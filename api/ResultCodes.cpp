#include "api/ResultCodes.h"

namespace plx {

std::string centerResultText(std::int32_t code) {
    switch (code) {
    case 1: return "01=通信障害";
    case 10: return "10=電文不正";
    case 11: return "11:業務番号不正";
    case 12: return "12:自端末ID不正";
    case 13: return "13:相手端末ID不正";
    case 14: return "14:サービス時間外";
    case 15: return "15:パスワード不正";
    case 16: return "16:セッション数超過";
    case 17: return "17:該当端末通信中";
    case 18: return "18:証明書不正";
    case 19: return "19:IPアドレス不正";
    case 30: return "30:プロトコル上ファイル名不正";
    case 31: return "31:ファイルアクセスキー不正";
    case 32: return "32:ファイルなし";
    case 33: return "33:二重ファイル伝送";
    case 34: return "34:ファイル準備未完了";
    case 35: return "35:アプリケーション未接続";
    case 41: return "41:ファイル長不正";
    case 43: return "43:レコード数不正";
    case 44: return "44:レコードフラグ不正";
    case 50: return "50:データ圧縮フラグ不正";
    case 51: return "51:データ解凍失敗";
    default: return "99:その他障害";
    }
}

std::string_view centerResultMessage(std::int32_t code) {
    switch (code) {
    case 10: return "電文不正";
    case 11: return "業務番号不正";
    case 12: return "自端末ID不正";
    case 13: return "相手端末不正";
    case 14: return "サービス時間外";
    case 15: return "パスワード不正";
    case 16: return "セッション数超過";
    case 17: return "該当端末通信中";
    case 18: return "証明書不正";
    case 19: return "IPアドレス不正";
    case 30: return "プロトコル上ファイル名不正";
    case 31: return "ファイルアクセスキー不正";
    case 32: return "ファイルなし";
    case 33: return "二重ファイル転送";
    case 34: return "ファイル準備未完了";
    case 35: return "アプリケーション未接続";
    case 41: return "ファイル長不正";
    case 43: return "レコード数不正";
    case 44: return "レコードフラグ不正";
    case 50: return "データ圧縮フラグ不正";
    case 51: return "データ解凍失敗";
    default: return "集配信中にその他障害が発生しました";
    }
}

} // namespace plx
