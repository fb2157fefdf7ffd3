#pragma once
// The uninstaller's main dialog: template 1, or template 2 when the
// install-information file's InstallerType is not 0. OK runs the removal in
// the dialog, with its progress bar and stage marks; OK again ("完了")
// closes it. Controls carry their identifiers as object names ("ctl103",
// "ctl2001", ...; the progress bar is "progress").

#include <QDialog>
#include <filesystem>
#include <vector>

#include "uninstaller/RemovalView.h"
#include "uninstaller/UnInstall.h"
#include "uninstaller/UserPrompts.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace plx::uninst {

class LinkLabel;
class StageMark;

class MainDialog : public QDialog, public RemovalView {
    Q_OBJECT
public:
    // engine: loaded. infoFile and startedProgram go to its run.
    MainDialog(TCVUnInstall& engine, UserPrompts& prompts, std::filesystem::path infoFile,
               std::filesystem::path startedProgram, QWidget* parent = nullptr);

    bool isTemplate2() const { return template2_; }
    const TCVUnInstall& engine() const { return engine_; }
    // The removal's result once it ran (0, 1 or 3).
    int removalResult() const { return result_; }

    void setProgressRange(int maximum) override;
    void stepProgress() override;
    void pause(std::chrono::milliseconds duration) override;
    int stageMarkCount() const override { return static_cast<int>(marks_.size()); }
    void showStageMark(int index) override;
    SharedFileAnswer askRemoveSharedFile(const std::filesystem::path& file) override;

public slots:
    // Button 101: runs the removal, or closes the dialog once it ran.
    void pressOk();
    // The dialog cannot be closed while the removal runs.
    void reject() override;

signals:
    void removalFinished(int result);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildTemplate1();
    void buildTemplate2();
    QWidget* makeFooter();
    void openProductPage();
    void openInstallerPage();

    TCVUnInstall& engine_;
    UserPrompts& prompts_;
    std::filesystem::path infoFile_;
    std::filesystem::path startedProgram_;
    bool template2_;
    bool removing_ = false;
    bool centred_ = false;
    int result_ = 0;

    QLabel* text103_ = nullptr;
    QLabel* warning105_ = nullptr;
    QLabel* status106_ = nullptr;
    QLabel* heading107_ = nullptr;
    QLabel* company112_ = nullptr;
    LinkLabel* product110_ = nullptr;
    LinkLabel* installer111_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* ok101_ = nullptr;
    QPushButton* cancel102_ = nullptr;
    std::vector<StageMark*> marks_;
};

} // namespace plx::uninst
