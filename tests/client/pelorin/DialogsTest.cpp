// The send and receive dialog, the data-kind dialog and the settings
// dialog's checks, with the desktop's boxes and choosers recorded.
#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <thread>

#include "client/pelorin/BusyScope.h"
#include "client/pelorin/FileInfoDialog.h"
#include "client/pelorin/GuiNotifier.h"
#include "client/pelorin/LogFilterCheck.h"
#include "client/pelorin/SendRecvDialog.h"
#include "client/pelorin/SettingsDialog.h"
#include "client/pelorin/SettingsSave.h"
#include "client/pelorin/TransferRun.h"
#include "tests/client/pelorin/PelorinTestSupport.h"

using namespace plx;
using namespace plx::pelorin;
using plx::test::NoService;

namespace {

FileRec kind(const std::string& type, const std::string& name) {
    FileRec rec;
    rec.FileType = type;
    rec.DataName = name;
    rec.ServiceNo = 7;
    rec.ProtocolFilename = "PF01";
    rec.AccessKey = "AK0001";
    return rec;
}

QLineEdit* box(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(QString::fromLatin1(name)); }
QPushButton* button(QWidget& w, const char* name) { return w.findChild<QPushButton*>(QString::fromLatin1(name)); }

QStringList rowsOf(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(0);
    return rows;
}

QString focusName() { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); }

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void theSendAndReceiveDialogsListTheirDirectionOnly() {
        NoService s;
        s.state.kinds.add(kind("K001", "売上"), {"/data/a.dat", "send"});
        s.state.kinds.add(kind("K002", "在庫"), {"/data/b.dat", "Send"}); // neither dialog
        s.state.kinds.add(kind("K003", "受注"), {"/data/c.dat", "recv"});
        s.state.kinds.add(kind("K004", "売上"), {"/data/d.dat", "send"});
        s.state.kinds.add(kind("K005", "無し"), {"", ""});
        SendRecvDialog send(s.context, true);
        QCOMPARE(send.windowTitle(), QString("Korvane PLX 送信"));
        auto* list = send.findChild<QTreeWidget*>("lvwType");
        QCOMPARE(list->headerItem()->text(0), QString("ファイル名称"));
        QCOMPARE(rowsOf(list), (QStringList{"売上", "売上"}));
        QCOMPARE(list->indexOfTopLevelItem(list->currentItem()), 0); // row 0 chosen at load
        QVERIFY(button(send, "cmdDo")->isEnabled());
        QCOMPARE(button(send, "cmdDo")->text(), QString("実行"));
        QCOMPARE(button(send, "cmdCancel")->text(), QString("ｷｬﾝｾﾙ"));
        QCOMPARE(send.findChild<QAction*>("popDo")->text(), QString("送受信を実行"));

        SendRecvDialog receive(s.context, false);
        QCOMPARE(receive.windowTitle(), QString("Korvane PLX 受信"));
        QCOMPARE(rowsOf(receive.findChild<QTreeWidget*>("lvwType")), (QStringList{"受注"}));

        s.state.kinds.clear();
        SendRecvDialog none(s.context, true);
        QVERIFY(!button(none, "cmdDo")->isEnabled());
        QVERIFY(!none.findChild<QAction*>("popDo")->isEnabled());
        none.runSelected();
        QVERIFY(s.ui.boxes.empty());
    }

    void enterInTheListRunsTheTransferAndTheDialogCloses() {
        NoService s;
        s.state.kinds.add(kind("K001", "売上"), {"/data/a.dat", "send"});
        SendRecvDialog dialog(s.context, true);
        dialog.show();
        QVERIFY(test::becameActive(&dialog));
        QTest::keyClick(dialog.findChild<QTreeWidget*>("lvwType"), Qt::Key_Return);
        QCOMPARE(s.ui.boxes.size(), std::size_t(1));
        QCOMPARE(s.ui.boxes[0].title, QString::fromUtf8(kTransferResultTitle));
        QVERIFY(s.ui.boxes[0].text.startsWith(QString("売上の送信が異常終了しました。\r\nコード：　1\r\n")));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());

        SendRecvDialog again(s.context, true);
        again.show();
        QVERIFY(test::becameActive(&again));
        QTest::keyClick(&again, Qt::Key_Escape);
        QCOMPARE(again.result(), int(QDialog::Rejected));
        QCOMPARE(s.ui.boxes.size(), std::size_t(1));
    }

    void theDataKindDialogChecksItsFieldsInOrder() {
        NoService s;
        DataKindTable working;
        working.add(kind("K001", "売上"), {"/data/a.dat", "send"});
        FileInfoDialog dialog(s.context, working, 1);
        dialog.show();
        QVERIFY(test::becameActive(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Korvane PLX 設定 - ファイル情報"));
        auto expect = [&](const char* focus, const QString& text) {
            s.ui.boxes.clear();
            dialog.confirm();
            QCOMPARE(s.ui.boxes.size(), std::size_t(1));
            QCOMPARE(s.ui.boxes[0].title, QString::fromUtf8(kInputCheckTitle));
            QCOMPARE(s.ui.boxes[0].text, text);
            QCOMPARE(focusName(), QString(focus));
        };
        expect("txtFileType", "データ種別を入力してください");
        box(dialog, "txtFileType")->setText("k001"); // ini sections ignore case
        expect("txtFileType", "データ種別：\"k001\" が既に存在いています");
        box(dialog, "txtFileType")->setText("K002");
        expect("txtDataName", "データ名称を入力してください");
        box(dialog, "txtDataName")->setText("売上");
        expect("txtDataName", "データ名称：\"売上\" が既に存在いています");
        box(dialog, "txtDataName")->setText("受注");
        expect("txtServiceNo", "業務番号を入力してください");
        for (const char* loose : {"12.0", "1e3", "&H10", "1,000", " 12", "99999999999", "-"}) {
            box(dialog, "txtServiceNo")->setText(loose);
            expect("txtServiceNo", "業務番号に整数を入力してください");
        }
        box(dialog, "txtServiceNo")->setText("-5"); // the service judges the range
        expect("txtProtocolFilename", "プロトコル上ファイル名を入力してください");
        box(dialog, "txtProtocolFilename")->setText("PF02");
        expect("txtAccessKey", "ファイルアクセスキーを入力してください");
        box(dialog, "txtAccessKey")->setText("AK0002");
        expect("txtRecordLength", "レコード長を入力してください");
        box(dialog, "txtRecordLength")->setText("4.5");
        expect("txtRecordLength", "レコード長に整数を入力してください");
        box(dialog, "txtRecordLength")->setText("+128");
        expect("txtClFileName", "ファイル名を入力してください");
        box(dialog, "txtClFileName")->setText("/data/" + QString(65, 'n')); // a name the service refuses
        expect("txtClFileName", "ファイル名が64桁を超えました");
        box(dialog, "txtClFileName")->setText("/data/b.dat");
        dialog.findChild<QRadioButton*>("optCompressID1")->setChecked(true);
        s.ui.boxes.clear();
        dialog.confirm();
        QVERIFY(s.ui.boxes.empty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(working.size(), std::size_t(2));
        const DataKind& added = working[1];
        QCOMPARE(added.file.FileType, std::string("K002"));
        QCOMPARE(added.file.ServiceNo, -5);
        QCOMPARE(added.file.RecordLength, 128);
        QCOMPARE(added.file.CompressID, 1);
        QCOMPARE(added.app, (AppIniPair{"/data/b.dat", "recv"}));
    }

    void editingAKindIsNoDuplicateOfItself() {
        NoService s;
        DataKindTable working;
        FileRec first = kind("K001", "売上");
        first.RecordLength = -1;
        first.CompressID = 1;
        first.UserData = "after.sh";
        working.add(first, {"/data/a.dat", "send"});
        working.add(kind("K002", "受注"), {"/data/b.dat", "recv"});
        FileInfoDialog dialog(s.context, working, 0);
        QCOMPARE(box(dialog, "txtRecordLength")->text(), QString("-1"));
        QVERIFY(dialog.findChild<QRadioButton*>("optCompressID1")->isChecked());
        QVERIFY(dialog.findChild<QRadioButton*>("optSendRecv1")->isChecked());
        box(dialog, "txtDataName")->setText("売上改");
        dialog.confirm();
        QVERIFY(s.ui.boxes.empty());
        QCOMPARE(working.size(), std::size_t(2));
        QCOMPARE(working[0].file.DataName, std::string("売上改"));
        QCOMPARE(working[0].file.UserData, std::string("after.sh"));
        QCOMPARE(working[0].app.direction, std::string("send"));
    }

    void theDataKindDialogsChoosersFillTheirFields() {
        NoService s;
        DataKindTable working;
        FileInfoDialog dialog(s.context, working, 0);
        s.ui.fileAnswers = {"/data/x.dat", ""};
        button(dialog, "cmdSansyou1")->click();
        box(dialog, "txtUserData")->setText("keep.sh");
        button(dialog, "cmdSansyou2")->click(); // cancelled
        QCOMPARE(box(dialog, "txtClFileName")->text(), QString("/data/x.dat"));
        QCOMPARE(box(dialog, "txtUserData")->text(), QString("keep.sh"));
        QCOMPARE(s.ui.fileFilters,
                 (std::vector<QString>{QString::fromUtf8(kDataFileFilter), QString::fromUtf8(kProgramFilter)}));
    }

    void theSettingsAreCheckedInOrder() {
        NoService s;
        SettingsDialog dialog(s.context, nullptr, std::nullopt);
        dialog.show();
        QVERIFY(test::becameActive(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Korvane PLX 設定"));
        auto* tabs = dialog.findChild<QTabWidget*>("SSTab1");
        QCOMPARE((QStringList{tabs->tabText(0), tabs->tabText(1), tabs->tabText(2)}),
                 (QStringList{"端末", "ファイル", "オプション"}));
        auto expect = [&](int tab, const char* focus, const QString& text) {
            s.ui.boxes.clear();
            QVERIFY(!dialog.apply());
            QCOMPARE(s.ui.boxes.size(), std::size_t(1));
            QCOMPARE(s.ui.boxes[0].title, QString::fromUtf8(kInputCheckTitle));
            QCOMPARE(s.ui.boxes[0].text, text);
            QCOMPARE(tabs->currentIndex(), tab);
            QCOMPARE(focusName(), QString(focus));
        };
        expect(0, "txtTerminalID", "端末IDを入力してください");
        box(dialog, "txtTerminalID")->setText("10a1");
        expect(0, "txtTerminalID", "端末IDに数字を入力してください");
        box(dialog, "txtTerminalID")->setText("1001");
        expect(0, "txtCenterID", "センターIDを入力してください");
        box(dialog, "txtCenterID")->setText("９００１"); // full-width digits are not digits
        expect(0, "txtCenterID", "センターIDに数字を入力してください");
        box(dialog, "txtCenterID")->setText("9001");
        for (const char* bad :
             {"http://127.0.0.1:abc/", "ftp://center/", "https://:443/", "http://c:0/", "http:// /", "http://a b/"}) {
            box(dialog, "txtCenterURL")->setText(bad);
            expect(0, "txtCenterURL",
                   "センターURLは http://ホスト名[:ポート番号]/ または https://… の形で入力してください");
        }
        box(dialog, "txtCenterURL")->setText("https://[::1]:8443/plx");
        box(dialog, "txtPassword")->setText(QString(20, 'p'));
        QCOMPARE(box(dialog, "txtPassword")->text(), QString(8, 'p')); // the service keeps 8
        box(dialog, "txtPassword")->clear();
        expect(0, "txtPassword", "端末パスワードを入力してください");
        box(dialog, "txtPassword")->setText("pw");
        box(dialog, "txtProxyServer")->setText("proxy.example");
        expect(0, "txtProxyServer", "プロクシーアドレスのポートを入力してください");
        box(dialog, "txtProxyServer")->setText("proxy.example:");
        expect(0, "txtProxyServer", "プロクシーアドレスのポートを入力してください");
        box(dialog, "txtProxyServer")->setText("proxy.example:8080");
        expect(0, "txtProxyServer", "プロクシーユーザーを入力してください");
        box(dialog, "txtProxyUser")->setText("user");
        expect(0, "txtProxyServer", "プロクシーパスワードを入力してください");
        box(dialog, "txtProxyServer")->setText(""); // no proxy: its three checks are skipped
        expect(2, "txtAPILogLocation", "APIログ格納先フォルダを入力してください");
        box(dialog, "txtAPILogLocation")->setText("/var/log/plx");
        expect(2, "txtAPILogDays", "APIログ保存日数を入力してください");
        for (const char* bad : {"0", "-1", "1e3", "99999999999", " 7"}) {
            box(dialog, "txtAPILogDays")->setText(bad);
            expect(2, "txtAPILogDays", "APIログ保存日数に整数を入力してください");
        }
        box(dialog, "txtAPILogDays")->setText("007");
        expect(2, "txtSessionLogLocation", "通信ログ格納先フォルダを入力してください");
        box(dialog, "txtSessionLogLocation")->setText("/var/log/plx");
        expect(2, "txtSessionLogDays", "通信ログ保存日数を入力してください");
        box(dialog, "txtSessionLogDays")->setText("0");
        expect(2, "txtSessionLogDays", "通信ログ保存日数に整数を入力してください");
        box(dialog, "txtSessionLogDays")->setText("2147483647");

        // Valid, but the service's settings could not be read: nothing is saved.
        s.ui.boxes.clear();
        QVERIFY(!dialog.apply());
        QVERIFY(s.ui.boxes.empty());
        QVERIFY(!button(dialog, "cmdOK")->isEnabled());
        QCOMPARE(s.state.logSettings.apiLogDays, std::string());
        QVERIFY(dialog.isVisible());
    }

    void returnOnTheKindListNeitherSavesNorCloses() {
        test::ServiceOnBus service("", "[terminfo]\nterminalid=1001\ncenterid=9001\npassword=pw\n");
        test::writeFile(service.home() / "plfile.ini", "[K001]\ndataname=売上\nserviceno=7\nprotocolfilename=PF01\n"
                                                       "accesskey=AK0001\nrecordlength=-1\ncompressid=0\n");
        std::string terminal = test::readFile(service.home() / "plterm.ini");
        test::RecordingUi ui;
        test::QuietNotifier quiet;
        AppState state;
        state.wrapper = std::make_unique<ServiceWrapper>(quiet);
        state.logSettings = {service.home().string(), "30", service.home().string(), "30"}; // all a save needs
        PelorinContext context{state, ui, test::fixedNow};
        SettingsDialog dialog(context, nullptr, std::nullopt);
        QVERIFY(button(dialog, "cmdOK")->isEnabled());
        box(dialog, "txtCenterHost")->setText("c2");
        dialog.show();
        QVERIFY(test::becameActive(&dialog));
        dialog.findChild<QTabWidget*>("SSTab1")->setCurrentIndex(1);
        auto* list = dialog.findChild<QTreeWidget*>("lvwFile");
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(dialog.isVisible());
        QVERIFY(ui.boxes.empty());
        QCOMPARE(test::readFile(service.home() / "plterm.ini"), terminal);
    }

    void theFolderDialogHandsBackTheChosenFolder() {
        QCOMPARE(folderChoice("/"), QString("/"));
        QCOMPARE(folderChoice("/var/log/"), QString("/var/log"));
        QCOMPARE(folderChoice("/var/log"), QString("/var/log"));
        NoService s;
        s.state.logSettings.apiLogLocation = "/old/api";
        SettingsDialog dialog(s.context, nullptr, std::nullopt);
        s.ui.folderAnswers = {"/", ""};
        button(dialog, "cmdSansyou1")->click();
        button(dialog, "cmdSansyou2")->click(); // cancelled
        QCOMPARE(box(dialog, "txtAPILogLocation")->text(), QString("/"));
        QCOMPARE(box(dialog, "txtSessionLogLocation")->text(), QString());
        QCOMPARE(s.ui.folderStarts, (std::vector<QString>{"/old/api", ""}));
    }

    void kindsAreAddedEditedAndDeletedInTheWorkingListOnly() {
        NoService s;
        s.state.kinds.add(kind("K001", "売上"), {"/data/a.dat", "send"});
        s.state.kinds.add(kind("K002", "受注"), {"/data/b.dat", "recv"});
        SettingsDialog dialog(s.context, nullptr, std::nullopt);
        auto* list = dialog.findChild<QTreeWidget*>("lvwFile");
        QCOMPARE(list->headerItem()->text(0), QString("データ種別"));
        QCOMPARE(list->headerItem()->text(1), QString("データ名称"));
        test::whenModal("Korvane PLX 設定 - ファイル情報", [](QWidget* editor) {
            const std::pair<const char*, const char*> fields[] = {
                {"txtFileType", "K003"},         {"txtDataName", "在庫"},    {"txtServiceNo", "9"},
                {"txtProtocolFilename", "PF03"}, {"txtAccessKey", "AK0003"}, {"txtRecordLength", "0"},
                {"txtClFileName", "/data/c.dat"}};
            for (auto [name, value] : fields) editor->findChild<QLineEdit*>(name)->setText(QString::fromUtf8(value));
            static_cast<FileInfoDialog*>(editor)->confirm();
        });
        button(dialog, "cmdAdd")->click();
        QCOMPARE(rowsOf(list), (QStringList{"K001", "K002", "K003"}));
        QCOMPARE(list->indexOfTopLevelItem(list->currentItem()), 2);
        QCOMPARE(dialog.working().size(), std::size_t(3));
        QCOMPARE(s.state.kinds.size(), std::size_t(2)); // nothing saved yet

        list->setCurrentItem(list->topLevelItem(0));
        button(dialog, "cmdDelete")->click();
        QCOMPARE(rowsOf(list), (QStringList{"K002", "K003"}));
        QCOMPARE(dialog.working()[0].file.FileType, std::string("K002"));
        QCOMPARE(dialog.working()[1].app.clientFileName, std::string("/data/c.dat"));
        button(dialog, "cmdDelete")->click();
        button(dialog, "cmdDelete")->click();
        QVERIFY(dialog.working().empty());
        QVERIFY(!button(dialog, "cmdEdit")->isEnabled());
        QVERIFY(!button(dialog, "cmdDelete")->isEnabled());
        QVERIFY(!dialog.findChild<QAction*>("popEdit")->isEnabled());
    }

    void aBoxShowsMarkupAsTyped() {
        DesktopUi ui;
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        test::whenModal("Korvane PLX 送受信結果", [&](QWidget* box) {
            format = static_cast<QMessageBox*>(box)->textFormat();
            shown = static_cast<QMessageBox*>(box)->text();
        });
        ui.message(nullptr, "Korvane PLX 送受信結果", "<b>売上</b><img src=x>の送信が正常終了しました。",
                   UiServices::Icon::Information);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(shown, QString("<b>売上</b><img src=x>の送信が正常終了しました。"));
    }

    // Last: it quits the application's event loop.
    void quittingWhileACallRunsStillServesTheCallsBox() {
        test::RecordingUi ui;
        GuiNotifier notifier(ui);
        std::atomic<bool> quitting{false};
        bool returned = false;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(50, [&] {
                QCoreApplication::exit(0);
                quitting = true;
            });
            runOffThread(nullptr, [&] {
                while (!quitting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                notifier.show("Korvane/PLX プログラム実行", "after.sh", UserNotifier::Icon::Warning);
            });
            returned = true;
        });
        QCoreApplication::exec();
        QVERIFY(returned);
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QVERIFY(ui.boxes[0].onWindowThread);
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
