#include "uninstaller/MainDialog.h"

#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "uninstaller/DialogWidgets.h"
#include "uninstaller/RemovalReport.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace {

constexpr int kStageMarks = 4; // controls 2001 to 2004

QLabel* makeLabel(const QString& text, const char* id) {
    auto* label = new QLabel(text);
    label->setObjectName(id);
    label->setWordWrap(true);
    return label;
}

} // namespace

MainDialog::MainDialog(TCVUnInstall& engine, UserPrompts& prompts, std::filesystem::path infoFile,
                       std::filesystem::path startedProgram, QWidget* parent)
    : QDialog(parent), engine_(engine), prompts_(prompts), infoFile_(std::move(infoFile)),
      startedProgram_(std::move(startedProgram)), template2_(engine.header.installerType != 0) {
    const auto& header = engine_.header;
    setWindowTitle(displayText(header.title + kCaptionSuffix));
    setWindowIcon(mainIcon());

    text103_ = makeLabel(displayText(header.title + kStartText), "ctl103");
    warning105_ = makeLabel(QString(), "ctl105");
    company112_ = makeLabel(displayText(header.appCompany), "ctl112");
    company112_->setWordWrap(false);
    product110_ = new LinkLabel(displayText(kProductLink), header.url.starts_with(kLivePrefix));
    product110_->setObjectName("ctl110");
    installer111_ = new LinkLabel(displayText(kInstallerLink), true);
    installer111_->setObjectName("ctl111");
    connect(product110_, &LinkLabel::clicked, this, &MainDialog::openProductPage);
    connect(installer111_, &LinkLabel::clicked, this, &MainDialog::openInstallerPage);

    progress_ = new QProgressBar;
    progress_->setObjectName("progress");
    progress_->setTextVisible(false);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    for (int i = 0; i < kStageMarks; ++i) {
        marks_.push_back(new StageMark);
        marks_.back()->setObjectName(QString("ctl%1").arg(2001 + i));
    }

    ok101_ = new QPushButton(displayText(kOkButton));
    ok101_->setObjectName("ctl101");
    ok101_->setDefault(true);
    cancel102_ = new QPushButton(displayText(kCancelButton));
    cancel102_->setObjectName("ctl102");
    connect(ok101_, &QPushButton::clicked, this, &MainDialog::pressOk);
    connect(cancel102_, &QPushButton::clicked, this, &MainDialog::reject);

    if (template2_)
        buildTemplate2();
    else
        buildTemplate1();
}

QWidget* MainDialog::makeFooter() {
    auto* footer = new QWidget;
    auto* links = new QHBoxLayout;
    links->addWidget(company112_);
    links->addStretch();
    links->addWidget(product110_);
    links->addSpacing(12);
    links->addWidget(installer111_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok101_);
    buttons->addWidget(cancel102_);
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(line);
    layout->addLayout(links);
    layout->addSpacing(4);
    layout->addLayout(buttons);
    return footer;
}

void MainDialog::buildTemplate1() {
    auto* icon = new QLabel;
    icon->setPixmap(mainIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(10);
    top->addWidget(text103_, 1);
    text103_->setMinimumHeight(text103_->fontMetrics().height() * 2 + 4);

    auto* marks = new QHBoxLayout;
    for (auto* mark : marks_) marks->addWidget(mark);
    marks->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addWidget(progress_);
    layout->addLayout(marks);
    layout->addWidget(warning105_);
    layout->addSpacing(6);
    layout->addWidget(makeFooter());
    setMinimumWidth(460);
}

void MainDialog::buildTemplate2() {
    heading107_ = makeLabel(displayText(engine_.header.title + kHeadingSuffix), "ctl107");
    QFont bold = heading107_->font();
    bold.setBold(true);
    heading107_->setFont(bold);
    status106_ = makeLabel(QString(), "ctl106");
    for (QLabel* hidden : {text103_, status106_, heading107_}) {
        QSizePolicy policy = hidden->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        hidden->setSizePolicy(policy);
        hidden->hide();
    }

    auto* marks = new QHBoxLayout;
    for (auto* mark : marks_) marks->addWidget(mark);
    marks->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(heading107_);
    right->addSpacing(6);
    right->addWidget(text103_);
    right->addWidget(status106_);
    right->addStretch();
    right->addWidget(progress_);
    right->addLayout(marks);
    right->addWidget(warning105_);
    right->addSpacing(6);
    right->addWidget(makeFooter());

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 11, 11);
    layout->addWidget(new Banner);
    layout->addSpacing(10);
    auto* rightBox = new QWidget;
    rightBox->setLayout(right);
    right->setContentsMargins(0, 11, 0, 0);
    layout->addWidget(rightBox, 1);
    setMinimumSize(520, 260);
}

void MainDialog::pressOk() {
    if (engine_.ran()) {
        accept();
        return;
    }
    if (removing_) return;
    removing_ = true;
    ok101_->setEnabled(false);
    cancel102_->setEnabled(false);
    // Template 2 tells its progress in control 106, under the bold heading.
    QLabel* status = template2_ ? status106_ : text103_;
    if (template2_) heading107_->show();
    status->setText(displayText(kRemoving));
    status->show();
    repaint();

    result_ = engine_.run(*this, infoFile_, startedProgram_);

    removing_ = false;
    status->setText(displayText(result_ == TCVUnInstall::kUnregisterFailed ? kStopped : kCompleted));
    std::string report;
    for (const auto& line : removalReport(engine_, result_)) report += (report.empty() ? "" : "\r") + line;
    warning105_->setText(displayText(report));
    ok101_->setText(displayText(kDoneButton));
    ok101_->setEnabled(true);
    emit removalFinished(result_);
}

void MainDialog::reject() {
    if (!removing_) QDialog::reject();
}

void MainDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void MainDialog::setProgressRange(int maximum) {
    progress_->setRange(0, maximum);
    progress_->setValue(0);
}

void MainDialog::stepProgress() { progress_->setValue(std::min(progress_->value() + 1, progress_->maximum())); }

void MainDialog::pause(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

void MainDialog::showStageMark(int index) {
    if (index < 0 || index >= stageMarkCount()) return;
    marks_[static_cast<std::size_t>(index)]->show();
    marks_[static_cast<std::size_t>(index)]->repaint();
}

SharedFileAnswer MainDialog::askRemoveSharedFile(const std::filesystem::path& file) {
    return prompts_.askSharedFile(this, file);
}

void MainDialog::openProductPage() {
    if (prompts_.confirm(this, kAskProductPage)) prompts_.openUrl(engine_.header.url);
}

void MainDialog::openInstallerPage() {
    if (prompts_.confirm(this, kAskInstallerPage)) prompts_.openUrl(kInstallerHomePage);
}

} // namespace plx::uninst
