#pragma once
// Small helpers the windows share: texts between UTF-8 and Qt, and the
// named controls they are built of (each named as the tests find it).

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>
#include <string_view>

namespace plx::pelorin {

inline QString u8(const char* text) { return QString::fromUtf8(text); }
inline QString u8(const std::string& text) { return QString::fromStdString(text); }
inline QString u8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A box's text as typed, untrimmed.
inline std::string typed(const QLineEdit* box) { return box->text().toStdString(); }

inline QLineEdit* namedField(const char* name) {
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

inline QPushButton* namedButton(const char* name, const char* caption) {
    auto* button = new QPushButton(u8(caption));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

// The "..." button beside a box that opens a chooser; Enter never presses it.
inline QPushButton* chooserButton(const char* name) {
    QPushButton* button = namedButton(name, "...");
    button->setAutoDefault(false);
    button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 20);
    return button;
}

} // namespace plx::pelorin
