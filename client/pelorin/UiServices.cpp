#include "client/pelorin/UiServices.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace plx::pelorin {

namespace {

QMessageBox::Icon boxIcon(UiServices::Icon icon) {
    switch (icon) {
    case UiServices::Icon::Warning:
    case UiServices::Icon::Exclamation: return QMessageBox::Warning;
    case UiServices::Icon::Information: break;
    }
    return QMessageBox::Information;
}

} // namespace

QString displayLines(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

QString folderChoice(const QString& path) {
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
    return folder;
}

void DesktopUi::message(QWidget* parent, const QString& title, const QString& text, Icon icon) {
    QMessageBox box(boxIcon(icon), title, displayLines(text), QMessageBox::Ok, parent);
    // Names and command lines are shown as typed, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool DesktopUi::ask(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, displayLines(text), QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> DesktopUi::chooseFolder(QWidget* parent, const QString& start) {
    QFileDialog dialog(parent, QString::fromUtf8(kFolderDialogTitle), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("ｷｬﾝｾﾙ"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return folderChoice(dialog.selectedFiles().constFirst());
}

std::optional<QString> DesktopUi::chooseFile(QWidget* parent, const QString& filters) {
    QString chosen = QFileDialog::getOpenFileName(parent, QString(), QString(), filters);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

} // namespace plx::pelorin
