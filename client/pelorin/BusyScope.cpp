#include "client/pelorin/BusyScope.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <thread>

#include "client/pelorin/UiServices.h"

namespace plx::pelorin {

namespace {

int activeScopes = 0;
std::function<void(QWidget*)>& closeWhileBusy() {
    static std::function<void(QWidget*)> closing;
    return closing;
}

} // namespace

bool BusyScope::anyActive() { return activeScopes > 0; }

void BusyScope::onCloseWhileBusy(std::function<void(QWidget*)> closing) { closeWhileBusy() = std::move(closing); }

void askToQuitWhenClosedBusy(UiServices& ui) {
    BusyScope::onCloseWhileBusy([&ui](QWidget* window) {
        if (ui.ask(window, QStringLiteral("Korvane PLX 終了"),
                   QStringLiteral("サービスの応答を待っています。\r\n応答を待たずに終了しますか？")))
            // The call's worker may wait for the service forever: nothing is
            // left that needs it, so the program ends without it.
            std::_Exit(EXIT_SUCCESS);
    });
}

BusyScope::BusyScope(QWidget* window) : window_(window) {
    ++activeScopes;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (window_) {
        wasEnabled_ = window_->isEnabled();
        window_->setEnabled(false);
        window_->installEventFilter(this);
    }
}

BusyScope::~BusyScope() {
    if (window_) {
        window_->removeEventFilter(this);
        window_->setEnabled(wasEnabled_);
    }
    QApplication::restoreOverrideCursor();
    --activeScopes;
}

bool BusyScope::eventFilter(QObject* watched, QEvent* event) {
    // The call still runs: the window stays unless the program ends.
    if (watched == window_ && event->type() == QEvent::Close) {
        event->ignore();
        if (closeWhileBusy()) closeWhileBusy()(window_);
        return true;
    }
    return false;
}

void runOffThread(QWidget* window, const std::function<void()>& work) {
    BusyScope busy(window);
    QEventLoop loop;
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // Quitting ends every event loop at once, while the worker may still
    // wait for this thread (its box): serve it until the worker has ended.
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace plx::pelorin
