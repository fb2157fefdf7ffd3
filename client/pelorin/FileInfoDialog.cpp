#include "client/pelorin/FileInfoDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "api/FileDefinitionRules.h"
#include "client/pelorin/FileInfoRules.h"
#include "client/pelorin/LogFilterCheck.h"
#include "client/pelorin/WidgetText.h"
#include "platform/Numbers.h"

namespace plx::pelorin {

namespace {

QRadioButton* option(const char* name, const char* caption) {
    auto* button = new QRadioButton(u8(caption));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QGroupBox* optionPair(const char* caption, QRadioButton* first, QRadioButton* second) {
    auto* group = new QGroupBox(u8(caption));
    auto* row = new QHBoxLayout(group);
    row->addWidget(first);
    row->addWidget(second);
    row->addStretch();
    return group;
}

} // namespace

FileInfoDialog::FileInfoDialog(PelorinContext& context, DataKindTable& working, std::size_t index, QWidget* parent)
    : QDialog(parent), context_(context), working_(working), index_(index) {
    setWindowTitle(u8("Korvane PLX 設定 - ファイル情報"));
    txtFileType_ = namedField("txtFileType");
    txtDataName_ = namedField("txtDataName");
    txtServiceNo_ = namedField("txtServiceNo");
    txtProtocolFilename_ = namedField("txtProtocolFilename");
    txtAccessKey_ = namedField("txtAccessKey");
    txtRecordLength_ = namedField("txtRecordLength");
    txtClFileName_ = namedField("txtClFileName");
    txtUserData_ = namedField("txtUserData");
    // The lengths the service stores.
    txtFileType_->setMaxLength(static_cast<int>(kFileTypeLimit));
    txtDataName_->setMaxLength(static_cast<int>(kDataNameLimit));
    txtProtocolFilename_->setMaxLength(static_cast<int>(kProtocolFilenameLimit));
    txtAccessKey_->setMaxLength(static_cast<int>(kAccessKeyLimit));
    txtUserData_->setMaxLength(static_cast<int>(kUserDataLimit));
    optCompressID0_ = option("optCompressID0", "なし");
    optCompressID1_ = option("optCompressID1", "あり");
    optSendRecv0_ = option("optSendRecv0", "受信");
    optSendRecv1_ = option("optSendRecv1", "送信");
    optCompressID0_->setChecked(true);
    optSendRecv0_->setChecked(true);

    auto withChooser = [this](QLineEdit* box, const char* name, const char* filters) {
        QPushButton* button = chooserButton(name);
        connect(button, &QPushButton::clicked, this, [this, box, filters] { choose(box, filters); });
        auto* row = new QHBoxLayout;
        row->addWidget(box);
        row->addWidget(button);
        return row;
    };

    auto* form = new QFormLayout;
    form->addRow(u8("データ種別"), txtFileType_);
    form->addRow(u8("データ名称"), txtDataName_);
    form->addRow(u8("業務番号"), txtServiceNo_);
    form->addRow(u8("プロトコル上ファイル名"), txtProtocolFilename_);
    form->addRow(u8("ファイルアクセスキー"), txtAccessKey_);
    form->addRow(u8("レコード長"), txtRecordLength_);
    form->addRow(optionPair("圧縮区分", optCompressID0_, optCompressID1_));
    form->addRow(u8("ファイル名"), withChooser(txtClFileName_, "cmdSansyou1", kDataFileFilter));
    form->addRow(u8("起動プログラム"), withChooser(txtUserData_, "cmdSansyou2", kProgramFilter));
    form->addRow(optionPair("送受信区分", optSendRecv0_, optSendRecv1_));

    QPushButton* cmdOK = namedButton("cmdOK", "OK");
    QPushButton* cmdCancel = namedButton("cmdCancel", "ｷｬﾝｾﾙ");
    connect(cmdOK, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(480, sizeHint().height());

    if (index_ < working_.size()) {
        const DataKind& entry = working_[index_];
        txtFileType_->setText(u8(entry.file.FileType));
        txtDataName_->setText(u8(entry.file.DataName));
        txtServiceNo_->setText(QString::number(entry.file.ServiceNo));
        txtProtocolFilename_->setText(u8(entry.file.ProtocolFilename));
        txtAccessKey_->setText(u8(entry.file.AccessKey));
        txtRecordLength_->setText(QString::number(entry.file.RecordLength));
        (entry.file.CompressID != 0 ? optCompressID1_ : optCompressID0_)->setChecked(true);
        txtClFileName_->setText(u8(entry.app.clientFileName));
        txtUserData_->setText(u8(entry.file.UserData));
        (entry.app.direction == kDirectionRecv ? optSendRecv0_ : optSendRecv1_)->setChecked(true);
    }
}

void FileInfoDialog::choose(QLineEdit* target, const char* filters) {
    if (auto chosen = context_.ui.chooseFile(this, u8(filters))) target->setText(*chosen);
}

void FileInfoDialog::confirm() {
    FileInfoInput input{typed(txtFileType_),         typed(txtDataName_),  typed(txtServiceNo_),
                        typed(txtProtocolFilename_), typed(txtAccessKey_), typed(txtRecordLength_),
                        typed(txtClFileName_)};
    if (auto fault = validateFileInfo(input, working_, index_)) {
        context_.ui.message(this, u8(kInputCheckTitle), u8(fault->message), UiServices::Icon::Information);
        QLineEdit* const fields[] = {txtFileType_,  txtDataName_,     txtServiceNo_, txtProtocolFilename_,
                                     txtAccessKey_, txtRecordLength_, txtClFileName_};
        fields[static_cast<int>(fault->field)]->setFocus();
        return;
    }
    if (index_ >= working_.size()) {
        index_ = working_.size();
        working_.add({});
    }
    DataKind& entry = working_[index_];
    entry.file.FileType = input.fileType;
    entry.file.DataName = input.dataName;
    entry.file.ServiceNo = *parseInt32(input.serviceNo);
    entry.file.ProtocolFilename = input.protocolFilename;
    entry.file.AccessKey = input.accessKey;
    entry.file.RecordLength = *parseInt32(input.recordLength);
    entry.file.CompressID = optCompressID0_->isChecked() ? 0 : 1;
    entry.file.UserData = typed(txtUserData_);
    entry.app.clientFileName = input.clientFileName;
    entry.app.direction = std::string(optSendRecv0_->isChecked() ? kDirectionRecv : kDirectionSend);
    accept();
}

} // namespace plx::pelorin
