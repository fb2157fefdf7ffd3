#pragma once
// Follows the service through a late start or a restart: when its name gets
// an owner, the terminal information and the data kinds are read again
// (the start-up load's reads) once the window is idle, with no dialog open
// that works on the old table, and the window is told. A read that fails
// leaves the state as it was and keeps its failure in state.unread.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "client/pelorin/PelorinContext.h"

namespace plx::pelorin {

class ServiceFollower final : public QObject {
public:
    // reloaded runs on the window's thread after each successful read.
    ServiceFollower(PelorinContext& context, QWidget* window, std::function<void()> reloaded);
    ~ServiceFollower() override; // stops following

private:
    void tryReload();

    PelorinContext& context_;
    QPointer<QWidget> window_;
    std::function<void()> reloaded_;
    bool pending_ = false;
    QTimer retry_; // while the window is busy or a dialog is open
};

} // namespace plx::pelorin
