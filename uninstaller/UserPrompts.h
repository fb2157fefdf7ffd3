#pragma once
// What the uninstaller asks and tells its user outside the main dialog:
// message boxes, the shared-file question, opening a web page. Behind this
// interface so that an unattended run (and a test) can answer instead.

#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "uninstaller/RemovalView.h"

namespace plx::uninst {

class MainDialog;

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A message box with the information icon and an OK button.
    virtual void inform(QWidget* owner, const std::string& text, const std::string& caption) = 0;
    // A yes/no message box with the information icon; true for yes.
    virtual bool confirm(QWidget* owner, const std::string& text) = 0;
    virtual void openUrl(const std::string& url) = 0;
    // The question dialog (template 3) over owner.
    virtual SharedFileAnswer askSharedFile(QWidget* owner, const std::filesystem::path& file) = 0;
    // The main dialog is about to be shown (an unattended run presses its buttons).
    virtual void attend(MainDialog& dialog) { (void)dialog; }
};

// Message boxes and dialogs on the screen; the unattended answers of
// uninstaller/ScriptedPrompts.h when PLX_UNINST_SCRIPT is set.
std::unique_ptr<UserPrompts> makeUserPrompts();

} // namespace plx::uninst
