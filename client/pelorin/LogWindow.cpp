#include "client/pelorin/LogWindow.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstdio>
#include <new>

#include "client/pelorin/BusyScope.h"
#include "client/pelorin/LogFilterCheck.h"
#include "client/pelorin/SendRecvDialog.h"
#include "client/pelorin/SettingsDialog.h"
#include "client/pelorin/TransferRun.h"
#include "client/pelorin/WidgetText.h"

namespace plx::pelorin {

namespace {

const char* const kListCaption = "Korvane PLX ログ一覧";
const char* const kDetailCaption = "Korvane PLX ログ詳細";

std::string todayText(const LocalDateTime& now) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", now.year, now.month, now.day);
    return text;
}

QLineEdit* filterBox(const char* name, int maxLength) {
    QLineEdit* box = namedField(name);
    box->setMaxLength(maxLength);
    return box;
}

// The logo at the right of the filter.
QLabel* logo() {
    QPixmap picture(150, 48);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient shade(0, 0, 0, 48);
    shade.setColorAt(0, QColor(0x2c, 0x5f, 0x9e));
    shade.setColorAt(1, QColor(0x17, 0x3a, 0x66));
    painter.setBrush(shade);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(picture.rect().adjusted(1, 1, -1, -1), 8, 8);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Korvane PLX"));
    painter.end();
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("picLogo"));
    label->setPixmap(picture);
    return label;
}

} // namespace

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    QSize size = window->frameGeometry().size();
    window->move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
}

LogWindow::LogWindow(PelorinContext& context)
    : context_(context), follower_(context, this, [this] { listModel_.setKinds(context_.state.kinds); }) {
    setWindowTitle(u8(kListCaption));
    buildMenus();

    auto* toolbar = addToolBar(QString());
    toolbar->setObjectName(QStringLiteral("Toolbar1"));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowUp), u8("送信"), this, [this] { openTransfer(true); });
    toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowDown), u8("受信"), this, [this] { openTransfer(false); });

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* top = new QHBoxLayout;
    top->addWidget(buildFilter());
    top->addStretch();
    top->addWidget(logo(), 0, Qt::AlignTop);
    layout->addLayout(top);

    views_ = new QStackedWidget;
    lvwIchiran_ = buildView("lvwIchiran", &listModel_);
    lvwSyousai_ = buildView("lvwSyousai", &detailModel_);
    views_->addWidget(lvwIchiran_);
    views_->addWidget(lvwSyousai_);
    layout->addWidget(views_, 1);

    cmdSyousai_ = namedButton("cmdSyousai", "詳細(&D)");
    cmdIchiran_ = namedButton("cmdIchiran", "一覧(&L)");
    cmdReDo_ = namedButton("cmdReDo", "再実行(&R)");
    modeButtons_ = new QStackedWidget;
    modeButtons_->addWidget(cmdSyousai_);
    modeButtons_->addWidget(cmdIchiran_);
    modeButtons_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(cmdSyousai_, &QPushButton::clicked, this, [this] { showDetail(); });
    connect(cmdIchiran_, &QPushButton::clicked, this, [this] { showList(); });
    connect(cmdReDo_, &QPushButton::clicked, this, [this] { rerun(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(modeButtons_);
    buttons->addWidget(cmdReDo_);
    layout->addLayout(buttons);
    setCentralWidget(central);

    popMenu_ = new QMenu(this);
    popMenu_->setObjectName(QStringLiteral("popMenu"));
    popReDo_ = popMenu_->addAction(u8("再実行"), this, [this] { rerun(); });
    popReDo_->setObjectName(QStringLiteral("popReDo"));
    popSettei_ = popMenu_->addAction(u8("設定"), this, [this] { openKindSettings(); });
    popSettei_->setObjectName(QStringLiteral("popSettei"));

    // List mode, the detail view behind it.
    lvwSyousai_->setEnabled(false);
    cmdIchiran_->setEnabled(false);
    mnuIchiran_->setEnabled(false);
    std::string today = todayText(context_.now());
    txtDateFrom_->setText(QString::fromStdString(today));
    txtDateTo_->setText(QString::fromStdString(today));
    resize(980, 660);
    setMinimumSize(minimumSizeHint());
}

void LogWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(u8("ファイル(&F)"));
    file->addAction(u8("送信(&S)"), this, [this] { openTransfer(true); })->setObjectName(QStringLiteral("mnuSend"));
    file->addAction(u8("受信(&R)"), this, [this] { openTransfer(false); })->setObjectName(QStringLiteral("mnuRecv"));
    file->addAction(u8("設定(&E)"), this, [this] { openSettings(); })->setObjectName(QStringLiteral("mnuSettei"));
    file->addSeparator();
    file->addAction(u8("終了(&X)"), this, [this] { close(); })->setObjectName(QStringLiteral("mnuClose"));
    QMenu* view = menuBar()->addMenu(u8("表示(&V)"));
    mnuIchiran_ = view->addAction(u8("一覧(&L)"), this, [this] { showList(); });
    mnuIchiran_->setObjectName(QStringLiteral("mnuIchiran"));
    mnuSyousai_ = view->addAction(u8("詳細(&D)"), this, [this] { showDetail(); });
    mnuSyousai_->setObjectName(QStringLiteral("mnuSyousai"));
    QMenu* help = menuBar()->addMenu(u8("ヘルプ(&H)"));
    help->addAction(u8("バージョン情報(&A)"), this, [this] { showVersion(); })
        ->setObjectName(QStringLiteral("mnuVersion"));
}

QWidget* LogWindow::buildFilter() {
    auto* frame = new QGroupBox(u8("検索条件"));
    frame->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(frame);
    txtDateFrom_ = filterBox("txtDateFrom", 10);
    txtTimeFrom_ = filterBox("txtTimeFrom", 5);
    txtDateTo_ = filterBox("txtDateTo", 10);
    txtTimeTo_ = filterBox("txtTimeTo", 5);
    const int dateWidth = txtDateFrom_->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00")) + 16;
    const int timeWidth = txtTimeFrom_->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 16;
    for (QLineEdit* box : {txtDateFrom_, txtDateTo_}) box->setFixedWidth(dateWidth);
    for (QLineEdit* box : {txtTimeFrom_, txtTimeTo_}) box->setFixedWidth(timeWidth);
    grid->addWidget(new QLabel(u8("日付　From")), 0, 0);
    grid->addWidget(txtDateFrom_, 0, 1);
    grid->addWidget(new QLabel(u8("時刻")), 0, 2);
    grid->addWidget(txtTimeFrom_, 0, 3);
    grid->addWidget(new QLabel(u8("To")), 0, 4);
    grid->addWidget(txtDateTo_, 0, 5);
    grid->addWidget(new QLabel(u8("時刻")), 0, 6);
    grid->addWidget(txtTimeTo_, 0, 7);

    optType0_ = new QRadioButton(u8("送信のみ"));
    optType0_->setObjectName(QStringLiteral("optType0"));
    optType1_ = new QRadioButton(u8("受信のみ"));
    optType1_->setObjectName(QStringLiteral("optType1"));
    optType2_ = new QRadioButton(u8("すべて"));
    optType2_->setObjectName(QStringLiteral("optType2"));
    optType2_->setChecked(true);
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(optType0_);
    kinds->addWidget(optType1_);
    kinds->addWidget(optType2_);
    kinds->addStretch();
    grid->addWidget(new QLabel(u8("通信種別")), 1, 0);
    grid->addLayout(kinds, 1, 1, 1, 6);
    QPushButton* cmdReDisp = namedButton("cmdReDisp", "再表示");
    connect(cmdReDisp, &QPushButton::clicked, this, [this] { redisplay(); });
    grid->addWidget(cmdReDisp, 1, 7);
    return frame;
}

QTableView* LogWindow::buildView(const char* name, QAbstractItemModel* model) {
    auto* view = new QTableView;
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->setWordWrap(false);
    view->setShowGrid(false);
    view->setAlternatingRowColors(true);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    // Every row the same height, fixed: a view of a million rows must not
    // measure its rows.
    QHeaderView* rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { showPopup(view->viewport()->mapToGlobal(at)); });
    return view;
}

void LogWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!columnsMade_) makeColumns();
}

// Column widths in parts of the list's width as it is when they are made.
void LogWindow::makeColumns() {
    columnsMade_ = true;
    const int w = lvwIchiran_->width();
    const int list[] = {w / 24, w / 12, 2 * w / 12, w / 12, 2 * w / 12, 2 * w / 12, 2 * w / 12, w / 12};
    for (int c = 0; c < SessionListModel::kColumnCount; ++c) lvwIchiran_->setColumnWidth(c, list[c]);
    const int detail[] = {w / 24, w / 12, 3 * w / 12, 7 * w / 12};
    for (int c = 0; c < SessionDetailModel::kColumnCount; ++c) lvwSyousai_->setColumnWidth(c, detail[c]);
}

void LogWindow::loadFirst() {
    load(LogFilter{txtDateFrom_->text().toStdString(), "", txtDateTo_->text().toStdString(), "", LogKind::All});
}

void LogWindow::message(const char* title, const std::string& text) {
    context_.ui.message(this, u8(title), QString::fromStdString(text), UiServices::Icon::Information);
}

void LogWindow::redisplay() {
    FilterBoxes boxes{txtDateFrom_->text().toStdString(), txtTimeFrom_->text().toStdString(),
                      txtDateTo_->text().toStdString(), txtTimeTo_->text().toStdString()};
    auto fault = checkFilter(boxes, context_.now());
    txtDateFrom_->setText(QString::fromStdString(boxes.dateFrom));
    txtDateTo_->setText(QString::fromStdString(boxes.dateTo));
    if (fault) {
        message(kInputCheckTitle, fault->message);
        QLineEdit* const boxesInOrder[] = {txtDateFrom_, txtTimeFrom_, txtDateTo_, txtTimeTo_};
        boxesInOrder[static_cast<int>(fault->box)]->setFocus();
        return;
    }
    LogKind kind = optType0_->isChecked() ? LogKind::Send : optType1_->isChecked() ? LogKind::Receive : LogKind::All;
    load(LogFilter{boxes.dateFrom, boxes.timeFrom, boxes.dateTo, boxes.timeTo, kind});
    focusFrontView();
}

void LogWindow::load(const LogFilter& filter) {
    // The views let go of the last records before the next are read, so a
    // re-display never holds two loads at once.
    fillLogViews(LogRecords{});
    LogRecords loaded;
    LogSettings folders = context_.state.logSettings;
    bool outOfMemory = false;
    runOffThread(this, [&] {
        try {
            loaded = loadLogRecords(folders, filter);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    });
    if (outOfMemory) message(kListCaption, "ログを読み込むためのメモリが不足しています。");
    fillLogViews(std::move(loaded));
}

void LogWindow::fillLogViews(LogRecords loaded) {
    listModel_.setRecords(nullptr, {});
    detailModel_.setRecords(nullptr);
    records_ = std::move(loaded);
    listModel_.setRecords(&records_, context_.state.kinds);
    detailStale_ = !detailMode();
    if (!detailStale_) detailModel_.setRecords(&records_);
    const bool any = records_.sessionCount() > 0;
    cmdReDo_->setEnabled(any);
    popReDo_->setEnabled(any);
    popSettei_->setEnabled(any);
    if (any) selectSession(frontView(), 0);
}

QTableView* LogWindow::frontView() const { return detailMode() ? lvwSyousai_ : lvwIchiran_; }

bool LogWindow::detailMode() const { return views_->currentWidget() == lvwSyousai_; }

void LogWindow::focusFrontView() { frontView()->setFocus(); }

void LogWindow::selectSession(QTableView* view, int row) {
    QModelIndex index = view->model()->index(row, 0);
    if (!index.isValid()) return;
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index, QAbstractItemView::EnsureVisible);
}

std::optional<std::size_t> LogWindow::selectedSession() const {
    QModelIndexList rows = frontView()->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    int row = rows.constFirst().row();
    std::size_t session = detailMode() ? SessionDetailModel::sessionOfRow(row) : static_cast<std::size_t>(row);
    if (session >= records_.sessionCount()) return std::nullopt;
    return session;
}

void LogWindow::showDetail() {
    std::optional<std::size_t> session = selectedSession();
    setWindowTitle(u8(kDetailCaption));
    if (detailStale_) {
        BusyScope busy(nullptr);
        detailModel_.setRecords(&records_);
        detailStale_ = false;
    }
    views_->setCurrentWidget(lvwSyousai_);
    lvwSyousai_->setEnabled(true);
    lvwIchiran_->setEnabled(false);
    modeButtons_->setCurrentWidget(cmdIchiran_);
    cmdIchiran_->setEnabled(true);
    cmdSyousai_->setEnabled(false);
    mnuIchiran_->setEnabled(true);
    mnuSyousai_->setEnabled(false);
    if (session) selectSession(lvwSyousai_, SessionDetailModel::firstRowOf(*session));
    lvwSyousai_->setFocus();
}

void LogWindow::showList() {
    std::optional<std::size_t> session = selectedSession();
    setWindowTitle(u8(kListCaption));
    views_->setCurrentWidget(lvwIchiran_);
    lvwIchiran_->setEnabled(true);
    lvwSyousai_->setEnabled(false);
    modeButtons_->setCurrentWidget(cmdSyousai_);
    cmdSyousai_->setEnabled(true);
    cmdIchiran_->setEnabled(false);
    mnuSyousai_->setEnabled(true);
    mnuIchiran_->setEnabled(false);
    if (session) selectSession(lvwIchiran_, static_cast<int>(*session));
    lvwIchiran_->setFocus();
}

void LogWindow::showPopup(const QPoint& at) { popMenu_->popup(at); }

void LogWindow::rerun() {
    std::optional<std::size_t> session = selectedSession();
    if (!session || !context_.state.wrapper) return;
    SessionLine record = records_.session(*session);
    const DataKindTable& kinds = context_.state.kinds;
    std::optional<std::size_t> kind =
        kinds.indexOfSession(record.field(SessionLog::kServiceNo), record.field(SessionLog::kProtocolFilename),
                             record.field(SessionLog::kTransferKind));
    if (!kind || kinds[*kind].file.DataName.empty()) {
        message("Korvane PLX 送受信", "ファイル名称が見つからないため、再実行できません。");
        focusFrontView();
        return;
    }
    DataKind chosen = kinds[*kind];
    const bool send = chosen.app.direction == kDirectionSend;
    // A receive is run again even when the file was received before.
    runTransfer(this, *context_.state.wrapper, context_.ui, TransferOrder{chosen, send, send ? 0 : 1});
    focusFrontView();
}

void LogWindow::openKindSettings() {
    std::optional<std::size_t> session = selectedSession();
    if (!session) return;
    SessionLine record = records_.session(*session);
    const DataKindTable& kinds = context_.state.kinds;
    std::optional<std::size_t> kind =
        kinds.indexOfSession(record.field(SessionLog::kServiceNo), record.field(SessionLog::kProtocolFilename),
                             record.field(SessionLog::kTransferKind));
    if (kind) kind = kinds.indexOfFileType(kinds[*kind].file.FileType);
    if (!kind) {
        message("Korvane PLX 設定", "ファイル名称が見つからないため、設定できません。");
        return;
    }
    SettingsDialog dialog(context_, this, kind);
    centreOnScreen(&dialog);
    dialog.exec();
}

void LogWindow::openSettings() {
    SettingsDialog dialog(context_, this, std::nullopt);
    centreOnScreen(&dialog);
    dialog.exec();
}

void LogWindow::openTransfer(bool send) {
    SendRecvDialog dialog(context_, send, this);
    centreOnScreen(&dialog);
    dialog.exec();
}

void LogWindow::showVersion() {
    message("Korvane PLX バージョン情報", "Pelorinクライアントアプリケーション\r\rバージョン: 1.2.1 (2005/11/02)");
}

} // namespace plx::pelorin
