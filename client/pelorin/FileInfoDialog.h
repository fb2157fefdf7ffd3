#pragma once
// frmFileInfo: edits one entry of the settings dialog's working data-kind
// list (its definition and its plxapp.ini pair). Nothing reaches the
// service until the settings dialog saves.

#include <QDialog>
#include <cstddef>

#include "client/DataKinds.h"
#include "client/pelorin/PelorinContext.h"

class QLineEdit;
class QRadioButton;

namespace plx::pelorin {

// The choosers' name filters. Follow-up programs here are shell scripts.
inline constexpr const char* kDataFileFilter = "データファイル(*.dat);;すべてのファイル(*)";
inline constexpr const char* kProgramFilter = "バッチファイル(*.sh);;すべてのファイル(*)";

class FileInfoDialog final : public QDialog {
public:
    // index: the entry of working to edit; working.size() adds a new one.
    FileInfoDialog(PelorinContext& context, DataKindTable& working, std::size_t index, QWidget* parent = nullptr);

    // cmdOK: checks the fields; when they pass, stores them in the working
    // list and closes with Accepted.
    void confirm();

private:
    void choose(QLineEdit* target, const char* filters);

    PelorinContext& context_;
    DataKindTable& working_;
    std::size_t index_;
    QLineEdit* txtFileType_ = nullptr;
    QLineEdit* txtDataName_ = nullptr;
    QLineEdit* txtServiceNo_ = nullptr;
    QLineEdit* txtProtocolFilename_ = nullptr;
    QLineEdit* txtAccessKey_ = nullptr;
    QLineEdit* txtRecordLength_ = nullptr;
    QLineEdit* txtClFileName_ = nullptr;
    QLineEdit* txtUserData_ = nullptr;
    QRadioButton* optCompressID0_ = nullptr;
    QRadioButton* optCompressID1_ = nullptr;
    QRadioButton* optSendRecv0_ = nullptr;
    QRadioButton* optSendRecv1_ = nullptr;
};

} // namespace plx::pelorin
