#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "platform/ChildProcess.h"
#include "uninstaller/DialogWidgets.h"
#include "uninstaller/QuestionDialog.h"
#include "uninstaller/ScriptedPrompts.h"
#include "uninstaller/Texts.h"
#include "uninstaller/UserPrompts.h"

namespace plx::uninst {

namespace {

constexpr const char* kRunAsUser = "/usr/sbin/runuser";
constexpr const char* kOpenUrl = "/usr/bin/xdg-open";

// The user who started the program through sudo or pkexec, if any.
std::string invokingUser() {
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"})
        if (const char* uid = std::getenv(variable); uid && *uid)
            if (const passwd* pw = ::getpwuid(static_cast<uid_t>(std::strtoul(uid, nullptr, 10))); pw && pw->pw_uid)
                return pw->pw_name;
    return {};
}

class QtPrompts : public UserPrompts {
public:
    void inform(QWidget* owner, const std::string& text, const std::string& caption) override {
        QMessageBox box(QMessageBox::Information, displayText(caption), displayText(text), QMessageBox::Ok, owner);
        box.setWindowIcon(mainIcon());
        box.exec();
    }

    bool confirm(QWidget* owner, const std::string& text) override {
        QMessageBox box(QMessageBox::Information, displayText(kMessageCaption), displayText(text),
                        QMessageBox::Yes | QMessageBox::No, owner);
        box.setWindowIcon(mainIcon());
        box.button(QMessageBox::Yes)->setText(displayText(kYesButton));
        box.button(QMessageBox::No)->setText(displayText(kNoButton));
        return box.exec() == QMessageBox::Yes;
    }

    void openUrl(const std::string& url) override {
        if (::geteuid() != 0) {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
            return;
        }
        // Never a browser with root's rights: the page opens as the user who
        // asked for root, or not at all.
        std::string user = invokingUser();
        if (user.empty() || ::access(kRunAsUser, X_OK) != 0) return;
        try {
            ChildProcess(std::vector<std::string>{kRunAsUser, "-u", user, "--", kOpenUrl, url}).detach();
        } catch (const std::exception&) {
            // no browser: nothing opens, as when the user has none
        }
    }

    SharedFileAnswer askSharedFile(QWidget* owner, const std::filesystem::path& file) override {
        QuestionDialog dialog(file, owner);
        return dialog.ask();
    }
};

} // namespace

std::unique_ptr<UserPrompts> makeUserPrompts() {
    if (const char* script = std::getenv(kScriptVariable)) return std::make_unique<ScriptedPrompts>(script);
    return std::make_unique<QtPrompts>();
}

} // namespace plx::uninst
