#pragma once
// The service wrapper's boxes (the follow-up program that did not start) as
// the desktop's message boxes. The wrapper calls it from the worker that
// runs the transfer; the box is shown on the window's thread and the
// worker waits until it is closed.

#include <QObject>

#include "client/UserNotifier.h"
#include "client/pelorin/UiServices.h"

namespace plx::pelorin {

class GuiNotifier final : public UserNotifier {
public:
    // Lives on the thread that creates it: the window's thread.
    explicit GuiNotifier(UiServices& ui);
    void show(const std::string& title, const std::string& text, Icon icon) override;

private:
    UiServices& ui_;
    QObject home_; // the window's thread, where the boxes are shown
};

} // namespace plx::pelorin
