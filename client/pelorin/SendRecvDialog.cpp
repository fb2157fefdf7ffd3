#include "client/pelorin/SendRecvDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/pelorin/TransferRun.h"
#include "client/pelorin/WidgetText.h"

namespace plx::pelorin {

namespace {

// The row's data kind: its index in the data-kind table, so that two kinds
// of one name each send themselves.
constexpr int kKindIndexRole = Qt::UserRole;

} // namespace

SendRecvDialog::SendRecvDialog(PelorinContext& context, bool send, QWidget* parent)
    : QDialog(parent), context_(context), send_(send) {
    setWindowTitle(u8(send ? "Korvane PLX 送信" : "Korvane PLX 受信"));
    lvwType_ = new QTreeWidget;
    lvwType_->setObjectName(QStringLiteral("lvwType"));
    lvwType_->setColumnCount(1);
    lvwType_->setHeaderLabels({u8("ファイル名称")});
    lvwType_->setRootIsDecorated(false);
    lvwType_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwType_->setAllColumnsShowFocus(true);
    lvwType_->setContextMenuPolicy(Qt::CustomContextMenu);
    lvwType_->installEventFilter(this);

    cmdDo_ = namedButton("cmdDo", "実行");
    QPushButton* cmdCancel = namedButton("cmdCancel", "ｷｬﾝｾﾙ");
    connect(cmdDo_, &QPushButton::clicked, this, [this] { runSelected(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* popMenu = new QMenu(this);
    popMenu->setObjectName(QStringLiteral("popMenu"));
    popDo_ = popMenu->addAction(u8("送受信を実行"), this, [this] { runSelected(); });
    popDo_->setObjectName(QStringLiteral("popDo"));
    connect(lvwType_, &QWidget::customContextMenuRequested, this,
            [this, popMenu](const QPoint& at) { popMenu->popup(lvwType_->viewport()->mapToGlobal(at)); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdDo_);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    if (context_.state.unread && context_.state.kinds.empty()) {
        // An empty list would say there is nothing to send.
        auto* unread = new QLabel(displayLines(u8(startupFailureText(*context_.state.unread))));
        unread->setObjectName(QStringLiteral("lblUnread"));
        unread->setTextFormat(Qt::PlainText);
        unread->setWordWrap(true);
        unread->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        layout->addWidget(unread, 1);
        lvwType_->hide();
    }
    layout->addWidget(lvwType_);
    layout->addLayout(buttons);
    resize(420, 320);

    const std::string_view direction = send ? kDirectionSend : kDirectionRecv;
    const DataKindTable& kinds = context_.state.kinds;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i].app.direction != direction) continue;
        auto* row = new QTreeWidgetItem(lvwType_, {QString::fromStdString(kinds[i].file.DataName)});
        row->setData(0, kKindIndexRole, QVariant::fromValue<qulonglong>(i));
    }
    if (lvwType_->topLevelItemCount() > 0) {
        lvwType_->setCurrentItem(lvwType_->topLevelItem(0));
    } else {
        cmdDo_->setEnabled(false);
        popDo_->setEnabled(false);
    }
    lvwType_->setFocus();
}

void SendRecvDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // 9/10 of the list's width as it is shown.
    lvwType_->setColumnWidth(0, lvwType_->viewport()->width() * 9 / 10);
}

bool SendRecvDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvwType_ && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            runSelected();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SendRecvDialog::runSelected() {
    QTreeWidgetItem* row = lvwType_->currentItem();
    if (!row || !row->isSelected() || !context_.state.wrapper) return;
    auto index = static_cast<std::size_t>(row->data(0, kKindIndexRole).toULongLong());
    const DataKindTable& kinds = context_.state.kinds;
    if (index >= kinds.size()) return;
    DataKind kind = kinds[index];
    runTransfer(this, *context_.state.wrapper, context_.ui, TransferOrder{kind, send_, 0});
    accept();
}

} // namespace plx::pelorin
