#include "client/pelorin/BusyScope.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <atomic>
#include <exception>
#include <thread>

namespace plx::pelorin {

BusyScope::BusyScope(QWidget* window) : window_(window) {
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
}

bool BusyScope::eventFilter(QObject* watched, QEvent* event) {
    // The call still runs: the window stays until it has answered.
    if (watched == window_ && event->type() == QEvent::Close) {
        event->ignore();
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
