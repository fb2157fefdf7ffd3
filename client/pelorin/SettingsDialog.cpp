#include "client/pelorin/SettingsDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "api/TermDefinitionRules.h"
#include "client/pelorin/BusyScope.h"
#include "client/pelorin/FileInfoDialog.h"
#include "client/pelorin/LogFilterCheck.h"
#include "client/pelorin/LogWindow.h"
#include "client/pelorin/SettingsSave.h"
#include "client/pelorin/WidgetText.h"

namespace plx::pelorin {

namespace {

constexpr const char* kSettingsTitle = "Korvane PLX 設定";

} // namespace

SettingsDialog::SettingsDialog(PelorinContext& context, QWidget* parent, std::optional<std::size_t> directKind)
    : QDialog(parent), context_(context), directKind_(directKind) {
    setWindowTitle(u8(kSettingsTitle));
    SSTab1_ = new QTabWidget;
    SSTab1_->setObjectName(QStringLiteral("SSTab1"));
    SSTab1_->addTab(buildTerminalTab(), u8("端末"));
    SSTab1_->addTab(buildKindTab(), u8("ファイル"));
    SSTab1_->addTab(buildOptionTab(), u8("オプション"));
    connect(SSTab1_, &QTabWidget::currentChanged, this, [this](int tab) {
        QWidget* first[] = {txtTerminalID_, lvwFile_, txtAPILogLocation_};
        if (tab >= 0 && tab < 3 && first[tab]->isVisible()) first[tab]->setFocus();
    });

    auto* cmdOK = namedButton("cmdOK", "OK");
    auto* cmdCancel = namedButton("cmdCancel", "ｷｬﾝｾﾙ");
    auto* cmdApply = namedButton("cmdApply", "適用");
    loaded_ = loadFromService(parent);
    // What could not be read is not offered for saving.
    cmdOK->setEnabled(loaded_);
    cmdApply->setEnabled(loaded_);
    working_ = context_.state.kinds;
    connect(cmdOK, &QPushButton::clicked, this, [this] { confirm(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdApply, &QPushButton::clicked, this, [this] { apply(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdApply);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SSTab1_);
    layout->addLayout(buttons);
    resize(560, 440);

    const TerminalRec& t = context_.state.terminal;
    for (std::size_t i = 0; i < termKeys().size(); ++i) boxAt({0, i})->setText(u8(t.*termKeys()[i].field));
    for (const DataKind& kind : working_) addRow(kind);
    enableRowCommands(!working_.empty());
    if (!working_.empty()) lvwFile_->setCurrentItem(lvwFile_->topLevelItem(0));
    const LogSettings& logs = context_.state.logSettings;
    txtAPILogLocation_->setText(u8(logs.apiLogLocation));
    txtAPILogDays_->setText(u8(logs.apiLogDays));
    txtSessionLogLocation_->setText(u8(logs.sessionLogLocation));
    txtSessionLogDays_->setText(u8(logs.sessionLogDays));
    SSTab1_->setCurrentIndex(0);
    markStoredFault();
}

bool SettingsDialog::loadFromService(QWidget* parent) {
    if (!context_.state.wrapper) return false;
    ServiceWrapper& wrapper = *context_.state.wrapper;
    TerminalRec terminal;
    DataKindTable kinds;
    std::optional<StartupFailure> failure;
    runOffThread(parent, [&] { failure = loadServiceSettings(wrapper, terminal, kinds); });
    if (failure)
        context_.ui.message(parent, u8(kSettingsTitle), u8(startupFailureText(*failure)),
                            UiServices::Icon::Information);
    // A stored value the service refused is what the user repairs here.
    std::optional<std::size_t> toRepair = failure ? termToRepair(*failure) : std::nullopt;
    if (failure && !toRepair) return false;
    context_.state.terminal = std::move(terminal);
    context_.state.kinds = std::move(kinds);
    context_.state.unread.reset();
    if (toRepair) storedFault_ = {*toRepair, failure->triple.message};
    return true;
}

void SettingsDialog::markStoredFault() {
    if (!storedFault_) return;
    QLineEdit* faulty = boxAt({0, storedFault_->first});
    if (!faulty) return;
    faulty->setProperty("faulty", true);
    faulty->setStyleSheet(QStringLiteral("QLineEdit { border: 2px solid #d00000; }"));
    faulty->setToolTip(u8(storedFault_->second));
    connect(faulty, &QLineEdit::textEdited, faulty, [faulty] {
        faulty->setProperty("faulty", false);
        faulty->setStyleSheet({});
        faulty->setToolTip({});
    });
    SSTab1_->setCurrentIndex(0);
    faulty->setFocus();
}

QWidget* SettingsDialog::buildTerminalTab() {
    txtTerminalID_ = namedField("txtTerminalID");
    txtCenterID_ = namedField("txtCenterID");
    txtCenterHost_ = namedField("txtCenterHost");
    txtCenterURL_ = namedField("txtCenterURL");
    txtPassword_ = namedField("txtPassword");
    txtProtocolVersion_ = namedField("txtProtocolVersion");
    txtProxyServer_ = namedField("txtProxyServer");
    txtProxyUser_ = namedField("txtProxyUser");
    txtProxyPassword_ = namedField("txtProxyPassword");
    txtPassword_->setEchoMode(QLineEdit::Password);
    txtProxyPassword_->setEchoMode(QLineEdit::Password);
    // The lengths the service stores, in record order.
    for (std::size_t i = 0; i < termKeys().size(); ++i)
        boxAt({0, i})->setMaxLength(static_cast<int>(termKeys()[i].limit));
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    form->addRow(u8("端末ID"), txtTerminalID_);
    form->addRow(u8("センターID"), txtCenterID_);
    form->addRow(u8("センターホスト"), txtCenterHost_);
    form->addRow(u8("センターURL"), txtCenterURL_);
    form->addRow(u8("端末パスワード"), txtPassword_);
    form->addRow(u8("プロトコルバージョン"), txtProtocolVersion_);
    form->addRow(u8("プロクシーアドレス"), txtProxyServer_);
    form->addRow(u8("プロクシーユーザー"), txtProxyUser_);
    form->addRow(u8("プロクシーパスワード"), txtProxyPassword_);
    return tab;
}

QWidget* SettingsDialog::buildKindTab() {
    lvwFile_ = new QTreeWidget;
    lvwFile_->setObjectName(QStringLiteral("lvwFile"));
    lvwFile_->setHeaderLabels({u8("データ種別"), u8("データ名称")});
    lvwFile_->setRootIsDecorated(false);
    lvwFile_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwFile_->setAllColumnsShowFocus(true);
    lvwFile_->setContextMenuPolicy(Qt::CustomContextMenu);
    lvwFile_->setColumnWidth(0, 500 * 3 / 10);
    lvwFile_->setColumnWidth(1, 500 * 6 / 10);
    connect(lvwFile_, &QTreeWidget::itemDoubleClicked, this, [this] { editKind(); });
    lvwFile_->installEventFilter(this);

    auto* cmdAdd = namedButton("cmdAdd", "追加(&A)");
    cmdEdit_ = namedButton("cmdEdit", "編集(&E)");
    cmdDelete_ = namedButton("cmdDelete", "削除(&D)");
    for (QPushButton* b : {cmdAdd, cmdEdit_, cmdDelete_}) b->setAutoDefault(false);
    connect(cmdAdd, &QPushButton::clicked, this, [this] { addKind(); });
    connect(cmdEdit_, &QPushButton::clicked, this, [this] { editKind(); });
    connect(cmdDelete_, &QPushButton::clicked, this, [this] { deleteKind(); });

    auto* popMenu = new QMenu(this);
    popMenu->setObjectName(QStringLiteral("popMenu"));
    popEdit_ = popMenu->addAction(u8("データ種別の変更"), this, [this] { editKind(); });
    popEdit_->setObjectName(QStringLiteral("popEdit"));
    popDelete_ = popMenu->addAction(u8("削除"), this, [this] { deleteKind(); });
    popDelete_->setObjectName(QStringLiteral("popDelete"));
    connect(lvwFile_, &QWidget::customContextMenuRequested, this,
            [this, popMenu](const QPoint& at) { popMenu->popup(lvwFile_->viewport()->mapToGlobal(at)); });

    auto* tab = new QWidget;
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cmdAdd);
    row->addWidget(cmdEdit_);
    row->addWidget(cmdDelete_);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(lvwFile_);
    layout->addLayout(row);
    return tab;
}

QLineEdit* SettingsDialog::folderField(const char* name, const char* buttonName, QWidget*& row) {
    QLineEdit* box = namedField(name);
    QPushButton* choose = chooserButton(buttonName);
    connect(choose, &QPushButton::clicked, this, [this, box] {
        if (auto folder = context_.ui.chooseFolder(this, box->text())) box->setText(*folder);
    });
    row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    layout->addWidget(choose);
    return box;
}

QWidget* SettingsDialog::buildOptionTab() {
    QWidget* apiRow = nullptr;
    QWidget* sessionRow = nullptr;
    txtAPILogLocation_ = folderField("txtAPILogLocation", "cmdSansyou1", apiRow);
    txtSessionLogLocation_ = folderField("txtSessionLogLocation", "cmdSansyou2", sessionRow);
    txtAPILogDays_ = namedField("txtAPILogDays");
    txtSessionLogDays_ = namedField("txtSessionLogDays");
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    form->addRow(u8("APIログ格納先フォルダ"), apiRow);
    form->addRow(u8("APIログ保存日数"), txtAPILogDays_);
    form->addRow(u8("通信ログ格納先フォルダ"), sessionRow);
    form->addRow(u8("通信ログ保存日数"), txtSessionLogDays_);
    return tab;
}

void SettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!directKind_) return;
    std::size_t index = *directKind_;
    directKind_.reset();
    // After the dialog is on the screen, so the editor opens over it.
    QTimer::singleShot(0, this, [this, index] {
        openEditor(index);
        SSTab1_->setCurrentIndex(1);
        if (index < working_.size()) showRow(static_cast<int>(index));
    });
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    // The list leaves Return to the dialog, whose default button would save and close it.
    if (watched == lvwFile_ && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::addRow(const DataKind& kind) {
    new QTreeWidgetItem(lvwFile_, {u8(kind.file.FileType), u8(kind.file.DataName)});
}

void SettingsDialog::showRow(int row) {
    QTreeWidgetItem* item = lvwFile_->topLevelItem(row);
    if (!item) return;
    lvwFile_->setCurrentItem(item);
    item->setSelected(true);
    lvwFile_->scrollToItem(item);
}

void SettingsDialog::enableRowCommands(bool any) {
    for (QWidget* w : {static_cast<QWidget*>(cmdEdit_), static_cast<QWidget*>(cmdDelete_)}) w->setEnabled(any);
    popEdit_->setEnabled(any);
    popDelete_->setEnabled(any);
}

void SettingsDialog::openEditor(std::size_t index) {
    const std::size_t before = working_.size();
    FileInfoDialog editor(context_, working_, index, this);
    centreOnScreen(&editor);
    if (editor.exec() != QDialog::Accepted) return;
    if (working_.size() > before) {
        addRow(working_[working_.size() - 1]);
        showRow(static_cast<int>(working_.size() - 1));
    } else if (QTreeWidgetItem* item = lvwFile_->topLevelItem(static_cast<int>(index))) {
        item->setText(0, u8(working_[index].file.FileType));
        item->setText(1, u8(working_[index].file.DataName));
    }
}

void SettingsDialog::addKind() {
    openEditor(working_.size());
    enableRowCommands(lvwFile_->topLevelItemCount() > 0);
    lvwFile_->setFocus();
}

void SettingsDialog::editKind() {
    QTreeWidgetItem* item = lvwFile_->currentItem();
    if (lvwFile_->topLevelItemCount() == 0 || !item) return;
    openEditor(static_cast<std::size_t>(lvwFile_->indexOfTopLevelItem(item)));
    lvwFile_->setFocus();
}

void SettingsDialog::deleteKind() {
    QTreeWidgetItem* item = lvwFile_->currentItem();
    if (lvwFile_->topLevelItemCount() == 0 || !item) return;
    int row = lvwFile_->indexOfTopLevelItem(item);
    delete item;
    DataKindTable kept;
    for (std::size_t i = 0; i < working_.size(); ++i)
        if (i != static_cast<std::size_t>(row)) kept.add(working_[i].file, working_[i].app);
    working_ = std::move(kept);
    enableRowCommands(!working_.empty());
    if (!working_.empty()) showRow(std::min(row, lvwFile_->topLevelItemCount() - 1));
    lvwFile_->setFocus();
}

TerminalRec SettingsDialog::typedTerminal() const {
    TerminalRec typedIn;
    for (std::size_t i = 0; i < termKeys().size(); ++i) typedIn.*termKeys()[i].field = typed(boxAt({0, i}));
    return typedIn;
}

LogSettings SettingsDialog::typedLogs() const {
    return LogSettings{typed(txtAPILogLocation_), typed(txtAPILogDays_), typed(txtSessionLogLocation_),
                       typed(txtSessionLogDays_)};
}

QLineEdit* SettingsDialog::fieldOf(SettingsField field) const {
    switch (field) {
    case SettingsField::TerminalID: return txtTerminalID_;
    case SettingsField::CenterID: return txtCenterID_;
    case SettingsField::CenterURL: return txtCenterURL_;
    case SettingsField::Password: return txtPassword_;
    case SettingsField::ProxyServer: return txtProxyServer_;
    case SettingsField::ApiLogLocation: return txtAPILogLocation_;
    case SettingsField::ApiLogDays: return txtAPILogDays_;
    case SettingsField::SessionLogLocation: return txtSessionLogLocation_;
    case SettingsField::SessionLogDays: return txtSessionLogDays_;
    }
    return txtTerminalID_;
}

bool SettingsDialog::apply() {
    SettingsChanges changes{typedTerminal(), working_, typedLogs()};
    if (auto fault = validateSettings(changes.terminal, changes.logs)) {
        context_.ui.message(this, u8(kInputCheckTitle), u8(fault->message), UiServices::Icon::Information);
        SSTab1_->setCurrentIndex(fault->tab);
        fieldOf(fault->field)->setFocus();
        return false;
    }
    if (!loaded_) return false;
    ServiceWrapper& wrapper = *context_.state.wrapper;
    const DataKindTable saved = context_.state.kinds;
    SaveOutcome outcome;
    runOffThread(this, [&] { outcome = saveSettings(wrapper, saved, changes); });
    keepSaved(context_.state, changes, outcome);
    if (!outcome.failure) return true;
    const SaveFailure& failure = *outcome.failure;
    QString text = u8(failureBoxText(failure.firstLine, failure.triple));
    if (failure.place) text += u8("\r\n対象：　") + placeName(*failure.place);
    text += u8(savedPartsText(outcome));
    context_.ui.message(this, u8(kSaveResultTitle), text, UiServices::Icon::Information);
    if (failure.place) showPlace(*failure.place);
    return false;
}

// The terminal's boxes in record order (that of termKeys()).
QLineEdit* SettingsDialog::boxAt(const SettingsPlace& place) const {
    QLineEdit* const terminal[] = {txtTerminalID_,      txtCenterID_,    txtCenterHost_, txtCenterURL_,    txtPassword_,
                                   txtProtocolVersion_, txtProxyServer_, txtProxyUser_,  txtProxyPassword_};
    QLineEdit* const logs[] = {txtAPILogLocation_, txtAPILogDays_, txtSessionLogLocation_, txtSessionLogDays_};
    if (place.tab == 0 && place.index < std::size(terminal)) return terminal[place.index];
    if (place.tab == 2 && place.index < std::size(logs)) return logs[place.index];
    return nullptr;
}

QString SettingsDialog::placeName(const SettingsPlace& place) const {
    QString tab = SSTab1_->tabText(place.tab);
    if (place.tab == 1 && place.index < working_.size())
        return tab + u8("　") + u8(working_[place.index].file.FileType) + u8("（") + QString::number(place.index + 1) +
               u8("行目）");
    QLineEdit* box = boxAt(place);
    auto* form = box ? qobject_cast<QFormLayout*>(SSTab1_->widget(place.tab)->layout()) : nullptr;
    QWidget* label = form ? form->labelForField(
                                box == txtAPILogLocation_ || box == txtSessionLogLocation_ ? box->parentWidget() : box)
                          : nullptr;
    auto* caption = qobject_cast<QLabel*>(label);
    return caption ? tab + u8("　") + caption->text() : tab;
}

void SettingsDialog::showPlace(const SettingsPlace& place) {
    SSTab1_->setCurrentIndex(place.tab);
    if (place.tab == 1) {
        showRow(static_cast<int>(place.index));
    } else if (QLineEdit* box = boxAt(place)) {
        box->setFocus();
        box->selectAll();
    }
}

void SettingsDialog::confirm() {
    if (apply()) accept();
}

} // namespace plx::pelorin
