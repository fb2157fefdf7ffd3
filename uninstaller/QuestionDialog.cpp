#include "uninstaller/QuestionDialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "uninstaller/DialogWidgets.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

QuestionDialog::QuestionDialog(const std::filesystem::path& file, QWidget* owner) : QDialog(owner) {
    setWindowTitle(displayText(kQuestionCaption));
    setWindowIcon(mainIcon());

    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* question = new QLabel(displayText(kQuestionText));
    question->setObjectName("question");

    auto* details = new QGridLayout;
    auto* name = new QLabel(QString::fromStdString(file.filename().string()));
    name->setObjectName("fileName");
    auto* folder = new QLabel(QString::fromStdString(file.parent_path().string()));
    folder->setObjectName("folder");
    for (QLabel* value : {name, folder}) value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details->addWidget(new QLabel(displayText(kQuestionFileLabel)), 0, 0);
    details->addWidget(name, 0, 1);
    details->addWidget(new QLabel(displayText(kQuestionFolderLabel)), 1, 0);
    details->addWidget(folder, 1, 1);
    details->setColumnStretch(1, 1);

    auto* text = new QVBoxLayout;
    text->addWidget(question);
    text->addSpacing(8);
    text->addLayout(details);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(8);
    top->addLayout(text, 1);

    struct Button {
        const char* text;
        SharedFileAnswer answer;
    };
    const Button buttons[] = {{kYesButton, SharedFileAnswer::Yes},
                              {kYesToAllButton, SharedFileAnswer::YesToAll},
                              {kNoButton, SharedFileAnswer::No},
                              {kNoToAllButton, SharedFileAnswer::NoToAll}};
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (const auto& b : buttons) {
        auto* button = new QPushButton(displayText(b.text));
        int id = static_cast<int>(b.answer);
        button->setObjectName(QString("ctl%1").arg(id));
        connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
        row->addWidget(button);
        if (b.answer == SharedFileAnswer::Yes) button->setDefault(true);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

SharedFileAnswer QuestionDialog::ask() {
    int id = exec();
    for (auto answer :
         {SharedFileAnswer::Yes, SharedFileAnswer::YesToAll, SharedFileAnswer::No, SharedFileAnswer::NoToAll})
        if (id == static_cast<int>(answer)) return answer;
    return SharedFileAnswer::No;
}

void QuestionDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QWidget* owner = parentWidget()) move(owner->frameGeometry().center() - rect().center());
}

} // namespace plx::uninst
