// Pelorin: the desktop client. Loads what the windows need from the service
// and the ini files, then shows the log viewer until it is closed.

#include <QApplication>
#include <optional>

#include "client/StartupLoad.h"
#include "client/pelorin/BusyScope.h"
#include "client/pelorin/GuiNotifier.h"
#include "client/pelorin/LogWindow.h"
#include "client/pelorin/PelorinContext.h"
#include "client/pelorin/UiServices.h"

using namespace plx;
using namespace plx::pelorin;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DesktopUi ui;
    GuiNotifier notifier(ui); // outlives the wrapper that shows its boxes
    AppState state;
    std::optional<StartupFailure> failure;
    runOffThread(nullptr, [&] { failure = loadStartupData(state, notifier); });
    if (failure)
        ui.message(nullptr, QString::fromUtf8(kStartupBoxTitle), QString::fromStdString(startupFailureText(*failure)),
                   UiServices::Icon::Information);

    askToQuitWhenClosedBusy(ui);
    PelorinContext context{state, ui, {}};
    LogWindow window(context);
    window.loadFirst();
    centreOnScreen(&window);
    window.show();
    return app.exec();
}
