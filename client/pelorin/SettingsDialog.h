#pragma once
// frmSettei: the terminal information, the list of data kinds and the log
// settings, edited on working copies and saved together by OK or Apply.
// The terminal information and the data kinds are read from the service as
// the dialog opens; when that fails the failure is shown and nothing can be
// saved. A terminal record the service refused for a stored value opens as
// the service read it, that value's box marked, for the user to repair.

#include <QDialog>
#include <optional>
#include <string>
#include <utility>

#include "client/DataKinds.h"
#include "client/pelorin/PelorinContext.h"
#include "client/pelorin/SettingsRules.h"
#include "client/pelorin/SettingsSave.h"

class QAction;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace plx::pelorin {

class SettingsDialog final : public QDialog {
public:
    // directKind: open the data-kind editor on this entry at once.
    SettingsDialog(PelorinContext& context, QWidget* parent, std::optional<std::size_t> directKind);

    // cmdApply: checks, then saves; true when everything was saved. False
    // at once when the dialog could not read the service's settings.
    bool apply();
    void confirm(); // cmdOK: apply, and close when it succeeded
    void addKind();
    void editKind();
    void deleteKind();
    const DataKindTable& working() const { return working_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // Return on the list does nothing

private:
    // Reads the service's settings into the program's state, with parent
    // busy; false (after the failure box) when that fails.
    bool loadFromService(QWidget* parent);
    // Marks the box of the stored value the service refused: property
    // "faulty", a red frame and the service's text as its tip, until edited.
    void markStoredFault();
    QWidget* buildTerminalTab();
    QWidget* buildKindTab();
    QWidget* buildOptionTab();
    QLineEdit* folderField(const char* name, const char* buttonName, QWidget*& row);
    void addRow(const DataKind& kind);
    void showRow(int row);
    void openEditor(std::size_t index);
    void enableRowCommands(bool any);
    QLineEdit* fieldOf(SettingsField field) const;
    // The box of a terminal or log field the save's check refused; null
    // for a data kind.
    QLineEdit* boxAt(const SettingsPlace& place) const;
    // The tab and the field or entry, as the box names them.
    QString placeName(const SettingsPlace& place) const;
    void showPlace(const SettingsPlace& place);
    TerminalRec typedTerminal() const;
    LogSettings typedLogs() const;

    PelorinContext& context_;
    std::optional<std::size_t> directKind_;
    DataKindTable working_;
    bool loaded_ = false;
    std::optional<std::pair<std::size_t, std::string>> storedFault_; // the key (record order) and the service's text

    QTabWidget* SSTab1_ = nullptr;
    QLineEdit* txtTerminalID_ = nullptr;
    QLineEdit* txtCenterID_ = nullptr;
    QLineEdit* txtCenterHost_ = nullptr;
    QLineEdit* txtCenterURL_ = nullptr;
    QLineEdit* txtPassword_ = nullptr;
    QLineEdit* txtProtocolVersion_ = nullptr;
    QLineEdit* txtProxyServer_ = nullptr;
    QLineEdit* txtProxyUser_ = nullptr;
    QLineEdit* txtProxyPassword_ = nullptr;
    QTreeWidget* lvwFile_ = nullptr;
    QPushButton* cmdEdit_ = nullptr;
    QPushButton* cmdDelete_ = nullptr;
    QAction* popEdit_ = nullptr;
    QAction* popDelete_ = nullptr;
    QLineEdit* txtAPILogLocation_ = nullptr;
    QLineEdit* txtAPILogDays_ = nullptr;
    QLineEdit* txtSessionLogLocation_ = nullptr;
    QLineEdit* txtSessionLogDays_ = nullptr;
};

} // namespace plx::pelorin
