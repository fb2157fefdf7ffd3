// Pictures of the uninstaller's dialogs for review:
//   uninstaller_shots <folder> [<CVUninst>]
// writes PNG files of templates 1 and 2 before and after a removal and of
// the question dialog; with the program, also the screen while it tells that
// another instance runs (an X display is needed for that one).

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/ChildProcess.h"
#include "uninstaller/TwoStage.h"

#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/MainDialog.h"
#include "uninstaller/QuestionDialog.h"

using namespace plx;
using namespace plx::uninst;
namespace fs = std::filesystem;

namespace {

class NoPrompts : public UserPrompts {
public:
    void inform(QWidget*, const std::string&, const std::string&) override {}
    bool confirm(QWidget*, const std::string&) override { return false; }
    void openUrl(const std::string&) override {}
    SharedFileAnswer askSharedFile(QWidget*, const fs::path&) override { return SharedFileAnswer::No; }
};

void save(QWidget& widget, const fs::path& file) {
    widget.show();
    QApplication::processEvents();
    if (!widget.grab().save(QString::fromStdString(file.string())))
        std::fprintf(stderr, "cannot save %s\n", file.c_str());
}

void shootMainDialog(const fs::path& out, const std::string& name, const std::string& extraHeader) {
    test::TempDir dir;
    fs::create_directories(dir / "inst/bin");
    test::writeFile(dir / "inst/bin/plserv", "x");
    test::writeFile(dir / "app.wqi", test::infoText((dir / "inst").string(), {{(dir / "inst/bin/plserv").string()}}, {},
                                                    "AppCompany=Korvane\nTitle=Korvane/PLX\n"
                                                    "URL=http://www.korvane.example/plx\n" +
                                                        extraHeader));
    TCVUnInstall engine(RegistryStore(dir / "registry.ini"));
    engine.load(dir / "app.wqi");
    NoPrompts prompts;
    // A missing information file: the removal reports files that stayed.
    MainDialog dialog(engine, prompts, dir / "gone.wqi", {});
    save(dialog, out / (name + "-start.png"));
    dialog.pressOk();
    save(dialog, out / (name + "-done.png"));
}

// The real program's message box, grabbed from the screen.
void shootSecondInstance(const fs::path& out, const std::string& program) {
    test::TempDir dir;
    ::setenv("PLX_RUNTIME_DIR", (dir / "run").c_str(), 1);
    ::unsetenv("PLX_UNINST_SCRIPT");
    test::writeFile(dir / "app.wqi", "Title=Korvane/PLX\n");
    auto lock = InstanceLock::take("Korvane/PLX", "Korvane/PLX アンインストール");
    ChildProcess child({program, (dir / "app.wqi").string()}, ChildOptions{.extraEnv = {"QT_QPA_PLATFORM=xcb"}});
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < 2000) QApplication::processEvents(QEventLoop::AllEvents, 50);
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect middle(screen->geometry().center() - QPoint(300, 150), QSize(600, 300));
    if (!screen->grabWindow(0, middle.x(), middle.y(), middle.width(), middle.height())
             .save(QString::fromStdString((out / "second-instance.png").string())))
        std::fprintf(stderr, "cannot grab the screen\n");
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    fs::path out = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    fs::create_directories(out);
    shootMainDialog(out, "template1", "");
    shootMainDialog(out, "template2", "InstallerType=1\n");
    QWidget owner;
    owner.resize(480, 300);
    owner.show();
    QuestionDialog question("/opt/common/lib/libkorvane-shared.so.1", &owner);
    save(question, out / "question.png");
    question.hide();
    owner.hide();
    if (argc > 2) shootSecondInstance(out, argv[2]);
    return 0;
}
