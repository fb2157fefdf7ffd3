#pragma once
// What the windows ask of the desktop: message boxes and the choosers of a
// folder and of a file. Behind this seam so tests record the boxes and
// answer the choosers instead of waiting for a person.

#include <QString>
#include <optional>

class QWidget;

namespace plx::pelorin {

class UiServices {
public:
    enum class Icon { Information, Warning, Exclamation };
    virtual ~UiServices() = default;

    // A modal box with an OK button; returns when it is closed. Line breaks
    // of text are CR LF or CR alone, as the windows compose them; the text
    // is plain (no markup).
    virtual void message(QWidget* parent, const QString& title, const QString& text, Icon icon) = 0;
    // A modal question with Yes and No (the default); true for Yes.
    virtual bool ask(QWidget* parent, const QString& title, const QString& text) = 0;
    // The folder dialog (frmFolder, titled kFolderDialogTitle): the chosen
    // folder (see folderChoice), nothing when cancelled.
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& start) = 0;
    // A file-open dialog with Qt name filters ("name (*.ext);;..."): the
    // chosen file, nothing when cancelled.
    virtual std::optional<QString> chooseFile(QWidget* parent, const QString& filters) = 0;
};

// The real dialogs of the desktop.
class DesktopUi final : public UiServices {
public:
    void message(QWidget* parent, const QString& title, const QString& text, Icon icon) override;
    bool ask(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> chooseFolder(QWidget* parent, const QString& start) override;
    std::optional<QString> chooseFile(QWidget* parent, const QString& filters) override;
};

inline constexpr const char* kFolderDialogTitle = "Korvane PLX ログ格納先フォルダ";

// The folder the folder dialog hands back for a chosen path: without a
// trailing "/", except the root, which stays "/".
QString folderChoice(const QString& path);

// A text with CR LF or lone CR line breaks as Qt shows line breaks.
QString displayLines(const QString& text);

} // namespace plx::pelorin
