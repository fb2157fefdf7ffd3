#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "tests/IniProfile.h"
#include "tests/uninstaller/UninstallFixture.h"
#include "uninstaller/DialogWidgets.h"
#include "uninstaller/MainDialog.h"
#include "uninstaller/QuestionDialog.h"
#include "uninstaller/Texts.h"

using namespace plx;
using namespace plx::uninst;
using test::FileEntry;
using test::TempDir;
namespace fs = std::filesystem;

namespace {

class RecordingPrompts : public UserPrompts {
public:
    void inform(QWidget*, const std::string& text, const std::string&) override { informed.push_back(text); }
    bool confirm(QWidget*, const std::string& text) override {
        confirmed.push_back(text);
        return confirmAnswer;
    }
    void openUrl(const std::string& url) override { opened.push_back(url); }
    SharedFileAnswer askSharedFile(QWidget* owner, const fs::path& file) override {
        owners.push_back(owner);
        asked.push_back(file);
        if (onAsk) onAsk();
        return SharedFileAnswer::Yes;
    }

    std::vector<std::string> informed, confirmed, opened;
    std::vector<QWidget*> owners;
    std::vector<fs::path> asked;
    std::function<void()> onAsk;
    bool confirmAnswer = true;
};

class DialogTest : public ::testing::Test {
protected:
    // A dialog over an installation of two files.
    // runInfo: the information file the removal deletes (default: the one loaded).
    std::unique_ptr<MainDialog> makeDialog(const std::string& extraHeader, bool sharedFile = false,
                                           const fs::path& runInfo = {}) {
        fs::create_directories(dir_ / "inst/bin");
        test::writeFile(dir_ / "inst/bin/a", "a");
        test::writeFile(dir_ / "inst/bin/b", "b");
        FileEntry b{(dir_ / "inst/bin/b").string(), sharedFile};
        test::writeFile(
            info_, test::infoText((dir_ / "inst").string(), {{(dir_ / "inst/bin/a").string()}, b}, {}, extraHeader));
        engine_.load(info_);
        auto dialog = std::make_unique<MainDialog>(engine_, prompts_, runInfo.empty() ? info_ : runInfo, fs::path());
        dialog->show();
        return dialog;
    }
    template <typename T>
    static T* control(QWidget& dialog, const char* id) {
        return dialog.findChild<T*>(id);
    }
    static QString text(QWidget& dialog, const char* id) { return control<QLabel>(dialog, id)->text(); }

    TempDir dir_;
    fs::path info_ = dir_ / "app.wqi";
    TCVUnInstall engine_{RegistryStore(dir_ / "registry.ini")};
    RecordingPrompts prompts_;
};

} // namespace

TEST_F(DialogTest, TemplateOneShowsItsTextsAndLinks) {
    auto dialog = makeDialog("URL=http://www.korvane.example/plx\n");
    EXPECT_FALSE(dialog->isTemplate2());
    EXPECT_EQ(dialog->windowTitle(), "Test/App - CorvalUnInstaller");
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(text(*dialog, "ctl103"), "Test/Appの削除を開始します。\nよろしければ、「OK」を押して下さい。");
    EXPECT_EQ(text(*dialog, "ctl112"), "Test Company");
    EXPECT_EQ(text(*dialog, "ctl105"), "");
    EXPECT_EQ(control<QPushButton>(*dialog, "ctl101")->text(), "OK");
    EXPECT_EQ(control<QPushButton>(*dialog, "ctl102")->text(), "キャンセル");
    auto* product = control<LinkLabel>(*dialog, "ctl110");
    auto* installer = control<LinkLabel>(*dialog, "ctl111");
    EXPECT_EQ(product->text(), "製品情報");
    EXPECT_TRUE(product->isLive());
    EXPECT_EQ(product->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(installer->text(), "CorvalInstaller");
    EXPECT_TRUE(installer->isLive());
    for (const char* mark : {"ctl2001", "ctl2002", "ctl2003", "ctl2004"}) {
        ASSERT_NE(control<QWidget>(*dialog, mark), nullptr) << mark;
        EXPECT_TRUE(control<QWidget>(*dialog, mark)->isHidden()) << mark;
    }
    EXPECT_EQ(dialog->stageMarkCount(), 4);
    EXPECT_EQ(control<QLabel>(*dialog, "ctl106"), nullptr);
    EXPECT_EQ(control<QLabel>(*dialog, "ctl107"), nullptr);
}

TEST_F(DialogTest, TheProductLinkIsLiveOnlyForAnHttpAddress) {
    struct Case {
        const char* url;
        bool live;
    };
    const Case cases[] = {{"http://x.example/", true},
                          {"https://x.example/", false},
                          {"", false},
                          {"HTTP://x.example/", false},
                          {"www.x.example", false}};
    for (const auto& c : cases) {
        auto dialog = makeDialog(std::string("URL=") + c.url + "\n");
        auto* product = control<LinkLabel>(*dialog, "ctl110");
        EXPECT_EQ(product->isLive(), c.live) << c.url;
        EXPECT_EQ(product->cursor().shape() == Qt::PointingHandCursor, c.live) << c.url;
    }
}

TEST_F(DialogTest, LinksAskBeforeTheyOpenAPage) {
    auto dialog = makeDialog("URL=http://www.korvane.example/plx\n");
    QTest::mouseClick(control<LinkLabel>(*dialog, "ctl110"), Qt::LeftButton);
    QTest::mouseClick(control<LinkLabel>(*dialog, "ctl111"), Qt::LeftButton);
    EXPECT_EQ(prompts_.confirmed, (std::vector<std::string>{"製品情報のホームページへ接続しますか？",
                                                            "コルヴァルインストーラーのホームページへ接続しますか？"}));
    EXPECT_EQ(prompts_.opened, (std::vector<std::string>{"http://www.korvane.example/plx", kInstallerHomePage}));

    prompts_.confirmAnswer = false;
    QTest::mouseClick(control<LinkLabel>(*dialog, "ctl110"), Qt::LeftButton);
    EXPECT_EQ(prompts_.opened.size(), 2u); // declined: nothing opens

    auto inactive = makeDialog("URL=ftp://x.example/\n");
    QTest::mouseClick(control<LinkLabel>(*inactive, "ctl110"), Qt::LeftButton);
    EXPECT_EQ(prompts_.confirmed.size(), 3u); // an inactive link does not ask
}

TEST_F(DialogTest, OkRemovesWithProgressAndMarksThenCloses) {
    auto dialog = makeDialog("");
    auto* ok = control<QPushButton>(*dialog, "ctl101");
    QTest::mouseClick(ok, Qt::LeftButton);

    EXPECT_TRUE(engine_.ran());
    EXPECT_EQ(dialog->removalResult(), 0);
    EXPECT_FALSE(fs::exists(dir_ / "inst"));
    EXPECT_EQ(text(*dialog, "ctl103"), "アンインストールは完了しました。");
    EXPECT_EQ(text(*dialog, "ctl105"), "");
    EXPECT_EQ(ok->text(), "完了");
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_FALSE(control<QPushButton>(*dialog, "ctl102")->isEnabled());
    auto* progress = control<QProgressBar>(*dialog, "progress");
    EXPECT_EQ(progress->maximum(), 2 + 0 + 1);
    EXPECT_EQ(progress->value(), 2);
    for (const char* mark : {"ctl2001", "ctl2002", "ctl2003", "ctl2004"})
        EXPECT_FALSE(control<QWidget>(*dialog, mark)->isHidden()) << mark;

    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DialogTest, FilesThatStayAreReported) {
    auto dialog = makeDialog("", true, dir_ / "gone.wqi"); // not there: it cannot be deleted
    std::string shared = (dir_ / "inst/bin/b").string();
    writeProfileString(dir_ / "registry.ini", kSharedDllsKey, shared, "2"); // another program's too
    QTest::mouseClick(control<QPushButton>(*dialog, "ctl101"), Qt::LeftButton);
    EXPECT_EQ(dialog->removalResult(), TCVUnInstall::kInfoFileKept);
    EXPECT_EQ(text(*dialog, "ctl105").toStdString(),
              "いくつか削除できないファイルがありました。\n必要のないファイルであれば、手動で削除してください。\n"
              "残したファイル: " +
                  shared + "（他のプログラムが使用しています）");
    EXPECT_EQ(text(*dialog, "ctl103"), "アンインストールは完了しました。");
}

TEST_F(DialogTest, TemplateTwoStartsWithItsTextsHiddenAndTellsProgressUnderItsHeading) {
    auto dialog = makeDialog("InstallerType=1\n");
    EXPECT_TRUE(dialog->isTemplate2());
    auto* heading = control<QLabel>(*dialog, "ctl107");
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "Test/Appのアンインストール");
    EXPECT_TRUE(heading->font().bold());
    for (const char* id : {"ctl103", "ctl106", "ctl107"}) EXPECT_TRUE(control<QLabel>(*dialog, id)->isHidden()) << id;
    EXPECT_EQ(text(*dialog, "ctl103"), "Test/Appの削除を開始します。\nよろしければ、「OK」を押して下さい。");

    QTest::mouseClick(control<QPushButton>(*dialog, "ctl101"), Qt::LeftButton);
    EXPECT_FALSE(heading->isHidden());
    EXPECT_FALSE(control<QLabel>(*dialog, "ctl106")->isHidden());
    EXPECT_EQ(text(*dialog, "ctl106"), "アンインストールは完了しました。");
    EXPECT_EQ(control<QPushButton>(*dialog, "ctl101")->text(), "完了");
}

TEST_F(DialogTest, TheDialogStaysWhileTheRemovalRuns) {
    auto dialog = makeDialog("", /*sharedFile=*/true);
    bool visibleAfterClose = false;
    QString statusDuringRun;
    prompts_.onAsk = [&] {
        statusDuringRun = text(*dialog, "ctl103");
        dialog->reject();
        dialog->close();
        visibleAfterClose = dialog->isVisible();
    };
    QTest::mouseClick(control<QPushButton>(*dialog, "ctl101"), Qt::LeftButton);
    EXPECT_EQ(statusDuringRun, "削除しています.....しばらくお待ち下さい。");
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(prompts_.owners, std::vector<QWidget*>{dialog.get()}); // the question over the main dialog
    EXPECT_EQ(prompts_.asked, std::vector<fs::path>{dir_ / "inst/bin/b"});
    EXPECT_FALSE(fs::exists(dir_ / "inst/bin/b")); // answered yes
}

TEST_F(DialogTest, CancelClosesWithoutRemoving) {
    auto dialog = makeDialog("");
    QTest::mouseClick(control<QPushButton>(*dialog, "ctl102"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(engine_.ran());
    EXPECT_TRUE(fs::exists(dir_ / "inst/bin/a"));
    EXPECT_TRUE(fs::exists(info_));
}

TEST(QuestionDialog, ShowsTheFileAndReturnsTheButtonPressed) {
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    struct Case {
        const char* button;
        const char* text;
        SharedFileAnswer answer;
    };
    const Case cases[] = {{"ctl101", "はい(&Y)", SharedFileAnswer::Yes},
                          {"ctl102", "すべてはい(&A)", SharedFileAnswer::YesToAll},
                          {"ctl103", "いいえ(&N)", SharedFileAnswer::No},
                          {"ctl104", "すべていいえ(&O)", SharedFileAnswer::NoToAll}};
    for (const auto& c : cases) {
        QuestionDialog dialog("/opt/common/lib/libshared.so.1", &owner);
        EXPECT_EQ(dialog.windowTitle(), "共有ファイルの削除");
        EXPECT_EQ(dialog.findChild<QLabel*>("fileName")->text(), "libshared.so.1");
        EXPECT_EQ(dialog.findChild<QLabel*>("folder")->text(), "/opt/common/lib");
        EXPECT_EQ(dialog.findChild<QLabel*>("question")->text(),
                  "次の共有ファイルは、もうどのプログラムからも使用されていない可能性があります。\n削除しますか？");
        auto* button = dialog.findChild<QPushButton*>(c.button);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), c.text);
        QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        EXPECT_EQ(dialog.ask(), c.answer) << c.button;
    }
    QuestionDialog closed("/opt/x", &owner);
    QTimer::singleShot(0, &closed, &QDialog::reject);
    EXPECT_EQ(closed.ask(), SharedFileAnswer::No);
}
