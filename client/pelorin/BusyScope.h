#pragma once
// The hourglass of a service call: while a BusyScope lives the window is
// disabled and the whole application shows the wait cursor; all of it is
// undone when the scope ends, however it ends. Closing the window meanwhile
// does what onCloseWhileBusy says, by default nothing.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace plx::pelorin {

class BusyScope final : public QObject {
public:
    // window may be null (nothing shown yet): then only the cursor changes.
    explicit BusyScope(QWidget* window);
    ~BusyScope() override;
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

    // True while any scope lives (on the window's thread).
    static bool anyActive();
    // Runs closing with the window a close was asked of while it was busy.
    static void onCloseWhileBusy(std::function<void(QWidget*)> closing);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    bool wasEnabled_ = true;
};

// Runs work on a worker thread under a BusyScope of window and returns when
// work has ended. Meanwhile the window's thread goes on handling its events
// (painting, the wrapper's boxes), also once the application quits;
// nothing else may touch what work uses. An exception thrown by work is
// thrown again here.
void runOffThread(QWidget* window, const std::function<void()>& work);

class UiServices;
// A close while the window waits for the service asks once whether to quit
// and then ends the program at once: the service may never answer.
void askToQuitWhenClosedBusy(UiServices& ui);

} // namespace plx::pelorin
