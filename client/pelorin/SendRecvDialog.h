#pragma once
// frmSendRecv: one send or receive by hand. Lists the data kinds of one
// direction by name and runs the chosen one with its plxapp.ini client
// file; closes after the transfer, whatever its outcome. While the data
// kinds could not be read from the service it shows why instead of a list.

#include <QDialog>

#include "client/pelorin/PelorinContext.h"

class QAction;
class QPushButton;
class QTreeWidget;

namespace plx::pelorin {

class SendRecvDialog final : public QDialog {
public:
    // send: true lists and sends the "send" kinds, false receives "recv" ones.
    SendRecvDialog(PelorinContext& context, bool send, QWidget* parent = nullptr);

    // cmdDo: the transfer of the selected row's kind, then the dialog closes.
    void runSelected();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PelorinContext& context_;
    bool send_;
    QTreeWidget* lvwType_ = nullptr;
    QPushButton* cmdDo_ = nullptr;
    QAction* popDo_ = nullptr;
};

} // namespace plx::pelorin
