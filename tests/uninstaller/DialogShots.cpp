// Pictures of the uninstaller's dialogs for review: uninstaller_shots <folder>
// writes PNG files of templates 1 and 2 before and after a removal, and of
// the question dialog.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>

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
    return 0;
}
