#include "client/pelorin/ServiceFollower.h"

#include <QApplication>

#include "client/pelorin/BusyScope.h"

namespace plx::pelorin {

ServiceFollower::ServiceFollower(PelorinContext& context, QWidget* window, std::function<void()> reloaded)
    : context_(context), window_(window), reloaded_(std::move(reloaded)) {
    retry_.setSingleShot(true);
    retry_.setInterval(200);
    connect(&retry_, &QTimer::timeout, this, [this] { tryReload(); });
    if (!context_.state.wrapper) return;
    // Told on the bus thread: the read waits for the window's thread.
    context_.state.wrapper->onServiceStarted([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                pending_ = true;
                tryReload();
            },
            Qt::QueuedConnection);
    });
}

ServiceFollower::~ServiceFollower() {
    if (context_.state.wrapper) context_.state.wrapper->onServiceStarted({});
}

void ServiceFollower::tryReload() {
    if (!pending_) return;
    // One call through the wrapper at a time, and no dialog holds rows of
    // the table about to be replaced.
    if (BusyScope::anyActive() || QApplication::activeModalWidget()) {
        retry_.start();
        return;
    }
    pending_ = false;
    ServiceWrapper& wrapper = *context_.state.wrapper;
    TerminalRec terminal;
    DataKindTable kinds;
    std::optional<StartupFailure> failure;
    runOffThread(window_, [&] { failure = loadServiceSettings(wrapper, terminal, kinds); });
    if (failure) {
        context_.state.unread = std::move(failure);
        return;
    }
    context_.state.terminal = std::move(terminal);
    context_.state.kinds = std::move(kinds);
    context_.state.unread.reset();
    if (reloaded_) reloaded_();
}

} // namespace plx::pelorin
