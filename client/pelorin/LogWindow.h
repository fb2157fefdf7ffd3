#pragma once
// frmLogData: the desktop client's main window. The sessions of a range of
// days as a list or as a detail view, a filter to re-display them, re-run
// of a session's transfer, and the way into the send and receive dialog and
// the settings dialog. Closing it ends the program.

#include <QMainWindow>
#include <optional>

#include "client/LogFileReader.h"
#include "client/pelorin/PelorinContext.h"
#include "client/pelorin/ServiceFollower.h"
#include "client/pelorin/SessionModels.h"

class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTableView;

namespace plx::pelorin {

class LogWindow final : public QMainWindow {
public:
    explicit LogWindow(PelorinContext& context);

    // The first load after the start-up load: today's sessions, every kind.
    void loadFirst();

    void redisplay(); // cmdReDisp
    void showDetail();
    void showList();
    void rerun();                 // cmdReDo, popReDo
    void openKindSettings();      // popSettei
    void openSettings();          // mnuSettei
    void openTransfer(bool send); // mnuSend, mnuRecv
    void showVersion();

    // The session of the selected row of the view in front.
    std::optional<std::size_t> selectedSession() const;
    bool detailMode() const;
    const LogRecords& records() const { return records_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    QWidget* buildFilter();
    QTableView* buildView(const char* name, QAbstractItemModel* model);
    void makeColumns();
    void load(const LogFilter& filter);
    void fillLogViews(LogRecords loaded);
    void selectSession(QTableView* view, int row);
    QTableView* frontView() const;
    void focusFrontView();
    void showPopup(const QPoint& at);
    void message(const char* title, const std::string& text);

    PelorinContext& context_;
    LogRecords records_;
    SessionListModel listModel_;
    SessionDetailModel detailModel_;
    bool detailStale_ = false; // the detail view is given the records when it comes to the front
    bool columnsMade_ = false;

    QLineEdit* txtDateFrom_ = nullptr;
    QLineEdit* txtTimeFrom_ = nullptr;
    QLineEdit* txtDateTo_ = nullptr;
    QLineEdit* txtTimeTo_ = nullptr;
    QRadioButton* optType0_ = nullptr;
    QRadioButton* optType1_ = nullptr;
    QRadioButton* optType2_ = nullptr;
    QStackedWidget* views_ = nullptr;
    QTableView* lvwIchiran_ = nullptr;
    QTableView* lvwSyousai_ = nullptr;
    QStackedWidget* modeButtons_ = nullptr;
    QPushButton* cmdSyousai_ = nullptr;
    QPushButton* cmdIchiran_ = nullptr;
    QPushButton* cmdReDo_ = nullptr;
    QAction* mnuIchiran_ = nullptr;
    QAction* mnuSyousai_ = nullptr;
    QMenu* popMenu_ = nullptr;
    QAction* popReDo_ = nullptr;
    QAction* popSettei_ = nullptr;
    ServiceFollower follower_; // last: it relabels the list
};

// Places a window in the middle of its screen.
void centreOnScreen(QWidget* window);

} // namespace plx::pelorin
