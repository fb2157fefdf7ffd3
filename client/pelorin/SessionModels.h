#pragma once
// The log viewer's two views of the loaded log records: the list (one row
// per session) and the detail view (36 rows per session: the fields of its
// API record, then those of the session record). Cells are computed from
// the records when a view asks for them, so a year of logs costs no more
// than the records themselves.

#include <QAbstractTableModel>
#include <cstddef>

#include "client/DataKinds.h"
#include "client/LogFileReader.h"

namespace plx::pelorin {

class SessionListModel final : public QAbstractTableModel {
public:
    enum Column { kNo, kSessionId, kDataName, kDirection, kStart, kEnd, kResult, kRecordCount, kColumnCount };

    // records: null for none; must outlive the model's use of it. kinds:
    // the data kinds the names and directions are looked up in, as they
    // were when the records were loaded.
    void setRecords(const LogRecords* records, DataKindTable kinds);
    // The same records named after kinds read since; the rows stay.
    void setKinds(DataKindTable kinds);
    std::size_t sessionCount() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const LogRecords* records_ = nullptr;
    DataKindTable kinds_;
};

class SessionDetailModel final : public QAbstractTableModel {
public:
    enum Column { kNo, kSessionId, kLabel, kValue, kColumnCount };
    static constexpr int kRowsPerSession = 36;

    void setRecords(const LogRecords* records);
    // The session a row belongs to, and the first row of a session.
    static std::size_t sessionOfRow(int row) { return static_cast<std::size_t>(row / kRowsPerSession); }
    static int firstRowOf(std::size_t session) { return static_cast<int>(session) * kRowsPerSession; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const LogRecords* records_ = nullptr;
};

} // namespace plx::pelorin
