#pragma once
// The painted parts of the uninstaller's dialogs: link labels, stage marks
// and the banner of dialog template 2.

#include <QString>
#include <QWidget>
#include <string_view>

namespace plx::uninst {

// The text as a window shows it: "\r" breaks the line.
QString displayText(std::string_view text);

// A link: blue text underlined in the dialog's font; with the hand cursor
// and clickable only while live, grey otherwise.
class LinkLabel : public QWidget {
    Q_OBJECT
public:
    LinkLabel(const QString& text, bool live, QWidget* parent = nullptr);
    bool isLive() const { return live_; }
    QString text() const { return text_; }
    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QFont linkFont() const;

    QString text_;
    bool live_;
};

// One mark of the row that follows the removal's stages: hidden until its
// stage is reached, keeping its place meanwhile.
class StageMark : public QWidget {
    Q_OBJECT
public:
    explicit StageMark(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {18, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The picture down the left of dialog template 2.
class Banner : public QWidget {
    Q_OBJECT
public:
    explicit Banner(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {112, 240}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The program's icon ("MAINICON").
QIcon mainIcon();

} // namespace plx::uninst
