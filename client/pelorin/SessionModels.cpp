#include "client/pelorin/SessionModels.h"

#include <array>
#include <climits>
#include <string>

#include "client/CodeLabels.h"
#include "client/DateTimeText.h"
#include "client/pelorin/WidgetText.h"

namespace plx::pelorin {

namespace {

// Rows a view can hold: its row numbers are ints.
std::size_t sessionsShown(const LogRecords* records, std::size_t rowsPerSession) {
    if (!records) return 0;
    std::size_t most = static_cast<std::size_t>(INT_MAX) / rowsPerSession;
    return std::min(records->sessionCount(), most);
}

std::string shownAsIs(std::string_view value) { return std::string(value); }

// One row of a session's detail: the label of "種別" and where "内容"
// comes from.
struct DetailRow {
    const char* label;
    bool fromApi;
    std::size_t field;
    std::string (*show)(std::string_view);
};

using S = SessionLog;
using A = ApiLog;

constexpr std::array<DetailRow, SessionDetailModel::kRowsPerSession> kDetailRows{{
    {"日付", true, A::kStamp, formatLogTime},
    {"エラーコード", true, A::kCode, shownAsIs},
    {"詳細コード", true, A::kDetail, shownAsIs},
    {"メッセージ", true, A::kMessage, shownAsIs},
    {"API名", true, A::kApiName, shownAsIs},
    {"引数1", true, A::kFirstArgument, shownAsIs},
    {"引数2", true, A::kFirstArgument + 1, shownAsIs},
    {"引数3", true, A::kFirstArgument + 2, shownAsIs},
    {"引数4", true, A::kFirstArgument + 3, shownAsIs},
    {"引数5", true, A::kFirstArgument + 4, shownAsIs},
    {"引数6", true, A::kFirstArgument + 5, shownAsIs},
    {"引数7", true, A::kFirstArgument + 6, shownAsIs},
    {"引数8", true, A::kFirstArgument + 7, shownAsIs},
    {"引数9", true, A::kFirstArgument + 8, shownAsIs},
    {"ログ種別", false, S::kLevel, logLevelLabel},
    {"通信開始日付", false, S::kStart, formatLogTime},
    {"通信終了日付", false, S::kEnd, formatLogTime},
    {"通信種別", false, S::kTransferKind, transferKindLabel},
    {"障害箇所", false, S::kPhase, messageKindLabel},
    {"集配信結果コード", false, S::kResultCode, resultCodeLabel},
    {"詳細コード", false, S::kDetail, shownAsIs},
    {"相手ホスト", false, S::kCenterHost, shownAsIs},
    {"センタID", false, S::kCenterId, shownAsIs},
    {"パスワード", false, S::kPassword, shownAsIs},
    {"プロトコル識別", false, S::kProtocolVersion, shownAsIs},
    {"業務番号", false, S::kServiceNo, shownAsIs},
    {"プロトコル上ファイル名", false, S::kProtocolFilename, shownAsIs},
    {"ファイルアクセスキー", false, S::kAccessKey, shownAsIs},
    {"センターファイル名", false, S::kCenterFileName, shownAsIs},
    {"レコード長", false, S::kRecordLength, shownAsIs},
    {"レコード数", false, S::kRecordCount, shownAsIs},
    {"ファイル長", false, S::kFileSize, shownAsIs},
    {"データ圧縮フラグ", false, S::kCompress, compressLabel},
    {"レコードフラグ", false, S::kRecordFormat, recordFormatLabel},
    {"ロード番号", false, S::kLoadNo, shownAsIs},
    {"運用ファイル名", false, S::kRecordKey, shownAsIs},
}};

// "No." and "セッションID", the first two columns of both views.
QVariant sessionKey(const LogRecords& records, std::size_t session, int column) {
    if (column == 0) return QString::number(session + 1);
    return u8(records.api(session).field(ApiLog::kSessionId));
}

} // namespace

void SessionListModel::setRecords(const LogRecords* records, DataKindTable kinds) {
    beginResetModel();
    records_ = records;
    kinds_ = std::move(kinds);
    endResetModel();
}

void SessionListModel::setKinds(DataKindTable kinds) {
    kinds_ = std::move(kinds);
    if (rowCount() > 0) emit dataChanged(index(0, kDataName), index(rowCount() - 1, kDirection));
}

std::size_t SessionListModel::sessionCount() const { return sessionsShown(records_, 1); }

int SessionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(sessionCount());
}

int SessionListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant SessionListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !records_ || !index.isValid()) return {};
    auto i = static_cast<std::size_t>(index.row());
    if (i >= sessionCount()) return {};
    if (index.column() <= kSessionId) return sessionKey(*records_, i, index.column());
    SessionLine session = records_->session(i);
    // Only the two columns of the data kind look it up: the others are painted far more often.
    auto kind = [&] {
        return kinds_.indexOfSession(session.field(S::kServiceNo), session.field(S::kProtocolFilename),
                                     session.field(S::kTransferKind));
    };
    switch (index.column()) {
    case kDataName: {
        auto k = kind();
        return k ? u8(kinds_[*k].file.DataName) : QString();
    }
    case kDirection: {
        // What the session moved says its direction, even once its kind is gone.
        if (auto send = sessionSends(session.field(S::kTransferKind))) return u8(directionLabel(*send));
        auto k = kind();
        return k ? u8(directionLabel(kinds_[*k])) : QString();
    }
    case kStart: return u8(formatLogTime(session.field(S::kStart)));
    case kEnd: return u8(formatLogTime(session.field(S::kEnd)));
    case kResult: return u8(resultCodeLabel(session.field(S::kResultCode)));
    case kRecordCount: {
        std::string_view count = session.field(S::kRecordCount);
        return count.empty() ? QStringLiteral(" ") : u8(count);
    }
    default: return {};
    }
}

QVariant SessionListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<const char*, kColumnCount> kHeaders{"No.",  "セッションID", "ファイル名称", "送受信区分",
                                                                "開始", "終了",         "結果",         "件数"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) return {};
    return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
}

void SessionDetailModel::setRecords(const LogRecords* records) {
    beginResetModel();
    records_ = records;
    endResetModel();
}

int SessionDetailModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(sessionsShown(records_, kRowsPerSession)) * kRowsPerSession;
}

int SessionDetailModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant SessionDetailModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !records_ || !index.isValid() || index.row() >= rowCount()) return {};
    std::size_t session = sessionOfRow(index.row());
    if (index.column() <= kSessionId) return sessionKey(*records_, session, index.column());
    const DetailRow& row = kDetailRows[static_cast<std::size_t>(index.row() % kRowsPerSession)];
    if (index.column() == kLabel) return u8(row.label);
    std::string_view value =
        row.fromApi ? records_->api(session).field(row.field) : records_->session(session).field(row.field);
    return u8(row.show(value));
}

QVariant SessionDetailModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<const char*, kColumnCount> kHeaders{"No.", "セッションID", "種別", "内容"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) return {};
    return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
}

} // namespace plx::pelorin
