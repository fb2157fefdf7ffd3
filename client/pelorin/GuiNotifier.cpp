#include "client/pelorin/GuiNotifier.h"

#include <QApplication>
#include <QThread>

namespace plx::pelorin {

GuiNotifier::GuiNotifier(UiServices& ui) : ui_(ui) {}

void GuiNotifier::show(const std::string& title, const std::string& text, Icon icon) {
    UiServices::Icon shown = icon == Icon::Information ? UiServices::Icon::Information : UiServices::Icon::Warning;
    auto box = [this, title = QString::fromStdString(title), text = QString::fromStdString(text), shown] {
        ui_.message(QApplication::activeWindow(), title, text, shown);
    };
    if (QThread::currentThread() == home_.thread()) {
        box();
        return;
    }
    QMetaObject::invokeMethod(&home_, box, Qt::BlockingQueuedConnection);
}

} // namespace plx::pelorin
