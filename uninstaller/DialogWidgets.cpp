#include "uninstaller/DialogWidgets.h"

#include <QIcon>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "uninstaller/MainIcon.xpm"

namespace plx::uninst {

QString displayText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).replace(QChar('\r'), QChar('\n'));
}

QIcon mainIcon() { return QIcon(QPixmap(kMainIcon)); }

LinkLabel::LinkLabel(const QString& text, bool live, QWidget* parent) : QWidget(parent), text_(text), live_(live) {
    if (live_) setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QFont LinkLabel::linkFont() const {
    QFont f = font();
    f.setUnderline(true);
    return f;
}

QSize LinkLabel::sizeHint() const {
    QFontMetrics metrics(linkFont());
    return {metrics.horizontalAdvance(text_) + 4, metrics.height() + 2};
}

void LinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(linkFont());
    painter.setPen(live_ ? QColor(0, 0, 255) : palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(rect().adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (live_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

StageMark::StageMark(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    hide();
}

void StageMark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(QPen(QColor(0x2F, 0x6D, 0xB5), 1.2));
    painter.setBrush(QColor(0xE8, 0xF0, 0xFA));
    painter.drawRoundedRect(box, 3, 3);
    QPainterPath tick;
    tick.moveTo(box.left() + box.width() * 0.2, box.top() + box.height() * 0.52);
    tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.75);
    tick.lineTo(box.left() + box.width() * 0.8, box.top() + box.height() * 0.25);
    painter.setPen(QPen(QColor(0x1E, 0x8C, 0x3A), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
}

Banner::Banner(QWidget* parent) : QWidget(parent) { setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding); }

void Banner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
    gradient.setColorAt(0, QColor(0x2F, 0x6D, 0xB5));
    gradient.setColorAt(1, QColor(0x0E, 0x2A, 0x52));
    painter.fillRect(rect(), gradient);
    QPixmap icon = QPixmap(kMainIcon).scaled(64, 64, Qt::KeepAspectRatio, Qt::FastTransformation);
    painter.drawPixmap((width() - icon.width()) / 2, 24, icon);
}

} // namespace plx::uninst
