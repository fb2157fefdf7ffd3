// Pelorin: the desktop client. Loads what the windows need from the service
// and the ini files, then shows the log viewer until it is closed.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "client/StartupLoad.h"
#include "client/pelorin/BusyScope.h"
#include "client/pelorin/GuiNotifier.h"
#include "client/pelorin/LogWindow.h"
#include "client/pelorin/PelorinContext.h"
#include "client/pelorin/UiServices.h"

using namespace plx;
using namespace plx::pelorin;

namespace {

// Without a screen that answers, the platform's start-up ends fatally: end
// with a text of our own instead of a core dump.
void endWithoutScreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    std::fputs("Pelorin: 画面に接続できないため起動できません（DISPLAY または WAYLAND_DISPLAY を確かめてください）\n",
               stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char** argv) {
    QtMessageHandler previous = qInstallMessageHandler(endWithoutScreen);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
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
