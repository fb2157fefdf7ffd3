// Pelorin against the real service on a private bus and the center
// simulator: a send from the send dialog, a re-run of a receive from the
// list, the settings save when the service refuses an entry or an ini
// file cannot be written, and a service that starts late or hangs.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <csignal>
#include <unistd.h>

#include "client/RemoteObject.h"
#include "client/pelorin/BusyScope.h"
#include "client/pelorin/FileInfoDialog.h"
#include "client/pelorin/LogWindow.h"
#include "client/pelorin/SendRecvDialog.h"
#include "client/pelorin/SettingsDialog.h"
#include "client/pelorin/SettingsSave.h"
#include "client/pelorin/TransferRun.h"
#include "tests/client/pelorin/PelorinTestSupport.h"

using namespace plx;
using namespace plx::pelorin;
using plx::test::CenterSimulator;
using plx::test::readFile;
using plx::test::ServiceOnBus;
using plx::test::writeFile;

namespace {

std::string termIni(const CenterSimulator& center) {
    return "[terminfo]\nterminalid=1001\ncenterid=9001\ncenterurl=http://127.0.0.1:" + std::to_string(center.port()) +
           "/\npassword=pw\nprotocolversion=1.0\n";
}

std::string kindIni(const std::string& type, const std::string& name, int serviceNo, const std::string& protocol,
                    const std::string& key) {
    return "[" + type + "]\ndataname=" + name + "\nserviceno=" + std::to_string(serviceNo) +
           "\nprotocolfilename=" + protocol + "\naccesskey=" + key + "\nrecordlength=-1\ncompressid=0\nuserdata=\n";
}

// The program's state as Pelorin loads it at start, with a recording desktop.
struct Pelorin {
    Pelorin() { failure = loadStartupData(state, quiet); }
    class Quiet final : public UserNotifier {
    public:
        void show(const std::string&, const std::string&, Icon) override {}
    } quiet;
    AppState state;
    test::RecordingUi ui;
    PelorinContext context{state, ui, {}};
    std::optional<StartupFailure> failure;
};

// Bytes that vary, the same every run.
std::string sampleBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    return bytes;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::exists(folder))
        for (const auto& e : std::filesystem::directory_iterator(folder)) files.push_back(e.path());
    return files;
}

QString cell(QTableView* view, int row, int column) { return view->model()->index(row, column).data().toString(); }

// The data kinds the service holds now, as "FileType:ServiceNo" in its order.
QStringList serviceKinds(ServiceWrapper& wrapper) {
    DataKindTable now;
    if (loadDataKinds(wrapper, now)) return {"failed"};
    QStringList kinds;
    for (const DataKind& k : now)
        kinds << QString::fromStdString(k.file.FileType + ":" + std::to_string(k.file.ServiceNo));
    return kinds;
}

// The service's log folders, kept for days.
void keepLogsDays(const ServiceOnBus& service, const std::string& days) {
    writeLogSettings({(service.home() / "apilog").string(), days, (service.home() / "sessionlog").string(), days});
}

// A terminal whose service holds the data kind K001 and keeps its logs 30
// days; moreTerm: more plterm.ini lines.
struct SalesTerminal {
    explicit SalesTerminal(const std::string& moreTerm = "") : service("", termIni(center) + moreTerm) {
        keepLogsDays(service, "30");
        writeFile(service.home() / "plfile.ini", kindIni("K001", "売上", 7, "PF01", "AK0001"));
    }
    CenterSimulator center;
    ServiceOnBus service;
};

// Today's session log holds one send of kind 7/PF01.
void logASend(const ServiceOnBus& service) {
    std::string day = formatDate(localNow().value_or(LocalDateTime{}));
    std::vector<std::string> fields(SessionLog::kFieldCount);
    fields[SessionLog::kStart] = day + "093005";
    fields[SessionLog::kTransferKind] = "20";
    fields[SessionLog::kResultCode] = "00";
    fields[SessionLog::kServiceNo] = "7";
    fields[SessionLog::kProtocolFilename] = "PF01";
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + fields[i];
    writeFile(service.home() / "sessionlog" / ("plsession" + day + ".log"), line + "\n");
}

// The service process held still (SIGSTOP) while this lives.
struct Stopped {
    int pid;
    bool held;
    explicit Stopped(int p) : pid(p), held(test::stopProcess(pid)) {}
    ~Stopped() { ::kill(pid, SIGCONT); }
};

// Opens the editor on a row of the settings dialog and types into it.
void editRow(SettingsDialog& dialog, int row, const char* fieldName, const char* value) {
    auto* list = dialog.findChild<QTreeWidget*>("lvwFile");
    list->setCurrentItem(list->topLevelItem(row));
    test::whenModal("Korvane PLX 設定 - ファイル情報", [fieldName, value](QWidget* editor) {
        editor->findChild<QLineEdit*>(fieldName)->setText(QString::fromUtf8(value));
        static_cast<FileInfoDialog*>(editor)->confirm();
    });
    dialog.editKind();
}

} // namespace

class ServiceFlowTest : public QObject {
    Q_OBJECT

private slots:
    void aSendFromTheDialogReachesTheCenterAndItsSessionIsListed() {
        CenterSimulator center({"--terminal-id", "1001", "--center-id", "9001", "--password", "pw", "--kind",
                                "PF01,AK0001,7", "--kind", "PF02,AK0002,8"});
        ServiceOnBus service("", termIni(center));
        // Two kinds of one name: the row chosen is the kind sent.
        writeFile(service.home() / "plfile.ini",
                  kindIni("K001", "売上", 7, "PF01", "AK0001") + kindIni("K002", "売上", 8, "PF02", "AK0002"));
        writeFile(service.home() / "first.dat", "the first kind's file\n");
        std::string second = sampleBytes(300000);
        writeFile(service.home() / "second.dat", second);
        writeFile(service.home() / "plxapp.ini", "[K001]\nclfilename=" + (service.home() / "first.dat").string() +
                                                     "\nsendrecv=send\n[K002]\nclfilename=" +
                                                     (service.home() / "second.dat").string() + "\nsendrecv=send\n");
        Pelorin p;
        QVERIFY(!p.failure);
        QCOMPARE(p.state.kinds.size(), std::size_t(2));

        SendRecvDialog dialog(p.context, true);
        auto* list = dialog.findChild<QTreeWidget*>("lvwType");
        QCOMPARE(list->topLevelItemCount(), 2);
        list->setCurrentItem(list->topLevelItem(1));
        dialog.runSelected();
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QCOMPARE(p.ui.boxes[0].title, QString::fromUtf8(kTransferResultTitle));
        QCOMPARE(p.ui.boxes[0].text, QString("売上の送信が正常終了しました。"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        auto received = filesIn(center.store() / "received");
        QCOMPARE(received.size(), std::size_t(1));
        QVERIFY(readFile(received[0]) == second);

        LogWindow window(p.context);
        window.loadFirst();
        auto* sessions = window.findChild<QTableView*>("lvwIchiran");
        QCOMPARE(sessions->model()->rowCount(), 1);
        QVERIFY(!cell(sessions, 0, 1).isEmpty()); // its API line is attached
        QCOMPARE(cell(sessions, 0, 2), QString("売上"));
        QCOMPARE(cell(sessions, 0, 3), QString("送信"));
        QCOMPARE(cell(sessions, 0, 6), QString("正常(00)"));
        window.showDetail();
        auto* detail = window.findChild<QTableView*>("lvwSyousai");
        QCOMPARE(cell(detail, 4, 3), QString("PLSendData"));
        QCOMPARE(cell(detail, 5, 3), QString("K002"));
        QCOMPARE(cell(detail, 26, 3), QString("PF02"));
    }

    void aRerunOfAReceiveAsksForTheFileAgain() {
        auto delivered = test::TempDir();
        writeFile(delivered / "delivery.dat", "delivered by the center\n");
        CenterSimulator center({"--kind", "PF03,AK0003,9", "--deliver", (delivered / "delivery.dat").string()});
        ServiceOnBus service("", termIni(center));
        // A send kind of the same service number and protocol file name comes first.
        writeFile(service.home() / "plfile.ini",
                  kindIni("K001", "発注", 9, "PF03", "AK0003") + kindIni("K003", "受注", 9, "PF03", "AK0003"));
        std::filesystem::create_directory(service.home() / "inbox");
        writeFile(service.home() / "out.dat", "never sent\n");
        writeFile(service.home() / "plxapp.ini",
                  "[K001]\nclfilename=" + (service.home() / "out.dat").string() +
                      "\nsendrecv=send\n[K003]\nclfilename=" + (service.home() / "inbox" / "in.dat").string() +
                      "\nsendrecv=recv\n");
        Pelorin p;
        QVERIFY(!p.failure);
        SendRecvDialog dialog(p.context, false);
        dialog.runSelected();
        QCOMPARE(p.ui.takeTexts(), QStringList{"受注の受信が正常終了しました。"});
        QCOMPARE(readFile(service.home() / "inbox" / "in.dat"), std::string("delivered by the center\n"));

        LogWindow window(p.context);
        window.loadFirst();
        auto* sessions = window.findChild<QTableView*>("lvwIchiran");
        QCOMPARE(sessions->model()->rowCount(), 1);
        QCOMPARE(cell(sessions, 0, 3), QString("受信"));
        window.rerun();
        QCOMPARE(p.ui.takeTexts(), QStringList{"受注の受信が正常終了しました。"});
        // The two receives: the dialog's without the resend flag, the re-run's with it.
        QStringList flags;
        for (const auto& file : filesIn(service.home() / "apilog")) {
            for (const QString& line : QString::fromStdString(readFile(file)).split('\n'))
                if (line.contains(",PLRecvData,")) flags << line.section(',', 9, 9);
        }
        QCOMPARE(flags, (QStringList{"0", "1"}));
        QVERIFY(filesIn(center.store() / "received").empty());

        // The receive kind deleted: the send kind of the same number and name does not stand in.
        p.state.wrapper->DeleteFileInfo("K003");
        QCOMPARE(p.state.wrapper->LastErrorCd(), 0);
        QVERIFY(!loadDataKinds(*p.state.wrapper, p.state.kinds));
        window.redisplay();
        QCOMPARE(cell(sessions, 0, 2), QString());
        QCOMPARE(cell(sessions, 0, 3), QString("受信"));
        window.rerun();
        QCOMPARE(p.ui.takeTexts(), QStringList{"ファイル名称が見つからないため、再実行できません。"});
        window.openKindSettings();
        QCOMPARE(p.ui.takeTexts(), QStringList{"ファイル名称が見つからないため、設定できません。"});
        QVERIFY(filesIn(center.store() / "received").empty());
    }

    void aSaveTheServiceWouldRefuseLosesNothingAndTheNextSaveCompletes() {
        CenterSimulator center;
        ServiceOnBus service("", termIni(center));
        keepLogsDays(service, "30");
        writeFile(service.home() / "plfile.ini",
                  kindIni("K001", "売上", 7, "PF01", "AK0001") + kindIni("K002", "受注", 8, "PF02", "AK0002"));
        writeFile(service.home() / "plxapp.ini",
                  "[K001]\nclfilename=/data/a.dat\nsendrecv=send\n[K002]\nclfilename=/data/b.dat\nsendrecv=recv\n");
        Pelorin p;
        QVERIFY(!p.failure);
        ServiceWrapper& wrapper = *p.state.wrapper;
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        std::string terminalBefore = readFile(service.home() / "plterm.ini");
        dialog.findChild<QLineEdit*>("txtCenterHost")->setText("c2");
        dialog.findChild<QLineEdit*>("txtAPILogDays")->setText("60");
        editRow(dialog, 1, "txtServiceNo", "-5"); // the dialog lets the service judge the range
        QVERIFY(!dialog.apply());
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QCOMPARE(p.ui.boxes[0].title, QString::fromUtf8(kSaveResultTitle));
        QCOMPARE(p.ui.boxes[0].text, QString("ファイル情報の書込みが異常終了しました。\r\nコード：　4\r\n"
                                             "内容：　不正な業務番号です\r\n詳細コード：　3\r\n"
                                             "対象：　ファイル　K002（2行目）"));
        QCOMPARE(readFile(service.home() / "plterm.ini"), terminalBefore);
        p.ui.boxes.clear();
        auto* tabs = dialog.findChild<QTabWidget*>("SSTab1");
        auto* list = dialog.findChild<QTreeWidget*>("lvwFile");
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(list->indexOfTopLevelItem(list->currentItem()), 1);
        QCOMPARE(serviceKinds(wrapper), (QStringList{"K001:7", "K002:8"})); // nothing deleted
        QCOMPARE(p.state.logSettings.apiLogDays, std::string("30"));

        // Meanwhile another program removed a kind: gone counts as deleted.
        wrapper.DeleteFileInfo("K001");
        QCOMPARE(wrapper.LastErrorCd(), 0);
        editRow(dialog, 1, "txtServiceNo", "18");
        QVERIFY(dialog.apply());
        QVERIFY(p.ui.boxes.empty());
        QCOMPARE(serviceKinds(wrapper), (QStringList{"K001:7", "K002:18"}));
        QCOMPARE(p.state.kinds.size(), std::size_t(2));
        QCOMPARE(p.state.kinds[1].file.ServiceNo, 18);
        QCOMPARE(p.state.logSettings.apiLogDays, std::string("60"));
        QCOMPARE(readLogSettings().apiLogDays, std::string("60"));
    }

    void aWriteRefusedAfterTheDeletesLeavesWhatTheServiceHolds() {
        if (::geteuid() != 0) QSKIP("an immutable folder needs root");
        SalesTerminal t;
        ServiceOnBus& service = t.service;
        Pelorin p;
        QVERIFY(!p.failure);
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        // Another program replaced K001 by K009 meanwhile: its delete counts
        // as done. Its file is where nothing can be written, even by root.
        struct Frozen {
            std::filesystem::path folder;
            ~Frozen() { test::runCaptured({"/usr/bin/chattr", "-i", folder.string()}); }
        } frozen{service.home() / "kinds"};
        std::filesystem::create_directory(frozen.folder);
        writeFile(frozen.folder / "plfile.ini", kindIni("K009", "在庫", 9, "PF09", "AK0009"));
        std::filesystem::remove(service.home() / "plfile.ini");
        std::filesystem::create_symlink(frozen.folder / "plfile.ini", service.home() / "plfile.ini");
        QCOMPARE(test::runCaptured({"/usr/bin/chattr", "+i", frozen.folder.string()}).exitCode, 0);
        QVERIFY(!dialog.apply());
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QVERIFY(p.ui.boxes[0].text.startsWith(QString("ファイル情報の書込みが異常終了しました。\r\nコード：　2\r\n")));
        QVERIFY(p.ui.boxes[0].text.endsWith(
            QString("\r\n保存済み：　端末情報\r\n未保存：　ファイル情報、アプリケーション情報、ログ設定")));
        QCOMPARE(p.state.kinds.size(), std::size_t(1));
        QCOMPARE(p.state.kinds[0].file.FileType, std::string("K009")); // read back from the service
    }

    void theSettingsShowWhatALateServiceHoldsAndWithoutItSaveNothing() {
        SalesTerminal t("centerhost=c1\n");
        ServiceOnBus& service = t.service;
        service.stop();
        Pelorin p;
        QVERIFY(p.failure);
        service.start();
        {
            SettingsDialog dialog(p.context, nullptr, std::nullopt);
            QVERIFY(p.ui.boxes.empty());
            QCOMPARE(dialog.findChild<QLineEdit*>("txtCenterHost")->text(), QString("c1"));
            QCOMPARE(dialog.findChild<QTreeWidget*>("lvwFile")->topLevelItemCount(), 1);
        }
        service.stop();
        std::string before = readFile(service.home() / "plterm.ini");
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QVERIFY(p.ui.boxes[0].text.startsWith(QString("端末情報の読出しが異常終了しました。\r\nコード：　1\r\n")));
        dialog.findChild<QLineEdit*>("txtTerminalID")->setText("1002");
        QVERIFY(!dialog.findChild<QPushButton*>("cmdOK")->isEnabled());
        dialog.confirm();
        QCOMPARE(readFile(service.home() / "plterm.ini"), before);
        QCOMPARE(readLogSettings().apiLogDays, std::string("30"));
    }

    void aPlxappIniThatCannotBeReplacedStopsTheSaveBeforeItsFirstWrite() {
        if (::geteuid() != 0) QSKIP("an immutable file needs root");
        SalesTerminal t;
        const std::filesystem::path home = t.service.home();
        writeFile(home / "plxapp.ini", "[K001]\nclfilename=/data/a.dat\nsendrecv=send\n");
        Pelorin p;
        QVERIFY(!p.failure);
        struct Frozen {
            std::filesystem::path file;
            ~Frozen() { test::runCaptured({"/usr/bin/chattr", "-i", file.string()}); }
        } frozen{home / "plxapp.ini"};
        QCOMPARE(test::runCaptured({"/usr/bin/chattr", "+i", frozen.file.string()}).exitCode, 0);
        std::vector<std::string> before;
        for (const char* name : {"plterm.ini", "plfile.ini", "plconfig.ini"}) before.push_back(readFile(home / name));
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        dialog.findChild<QLineEdit*>("txtCenterHost")->setText("c2");
        dialog.findChild<QLineEdit*>("txtAPILogDays")->setText("60");
        editRow(dialog, 0, "txtServiceNo", "8");
        QVERIFY(!dialog.apply());
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        const QString text = p.ui.boxes[0].text;
        QVERIFY(text.startsWith(QString("アプリケーション情報の書込みが異常終了しました。\r\nコード：　2\r\n")));
        QVERIFY(text.contains(QString::fromStdString((home / "plxapp.ini").string())));
        QVERIFY(!text.contains(QString("保存済み")));
        std::vector<std::string> after;
        for (const char* name : {"plterm.ini", "plfile.ini", "plconfig.ini"}) after.push_back(readFile(home / name));
        QVERIFY(after == before);
    }

    void aTerminalRecordWithoutItsPasswordIsRepairedInTheSettings() {
        CenterSimulator center(
            {"--terminal-id", "1001", "--center-id", "9001", "--password", "pw2", "--kind", "PF01,AK0001,7"});
        std::string faulty = termIni(center);
        faulty.replace(faulty.find("password=pw"), 11, "password=");
        ServiceOnBus service("", faulty);
        keepLogsDays(service, "30");
        writeFile(service.home() / "plfile.ini", kindIni("K001", "売上", 7, "PF01", "AK0001"));
        writeFile(service.home() / "out.dat", "sent once repaired\n");
        writeFile(service.home() / "plxapp.ini",
                  "[K001]\nclfilename=" + (service.home() / "out.dat").string() + "\nsendrecv=send\n");
        Pelorin p;
        QVERIFY(p.failure);
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        QCOMPARE(p.ui.takeTexts(), QStringList{"端末情報の読出しが異常終了しました。\r\nコード：　2\r\n"
                                               "内容：　端末パスワードが不正です\r\n詳細コード：　0"});
        QCOMPARE(dialog.findChild<QLineEdit*>("txtTerminalID")->text(), QString("1001"));
        QCOMPARE(dialog.findChild<QLineEdit*>("txtProtocolVersion")->text(), QString("1.0")); // read past it too
        auto* password = dialog.findChild<QLineEdit*>("txtPassword");
        QVERIFY(password->property("faulty").toBool());
        QCOMPARE(password->toolTip(), QString("端末パスワードが不正です"));
        QVERIFY(dialog.findChild<QPushButton*>("cmdOK")->isEnabled());
        QTest::keyClicks(password, "pw2");
        QVERIFY(!password->property("faulty").toBool());
        dialog.confirm();
        QVERIFY(p.ui.boxes.empty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        SendRecvDialog send(p.context, true);
        send.runSelected();
        QCOMPARE(p.ui.takeTexts(), QStringList{"売上の送信が正常終了しました。"});
        QCOMPARE(filesIn(center.store() / "received").size(), std::size_t(1));
    }

    void anIniFileThatCannotBeWrittenIsReported() {
        SalesTerminal t;
        ServiceOnBus& service = t.service;
        Pelorin p;
        QVERIFY(!p.failure);
        std::filesystem::create_directory(service.home() / "plxapp.ini"); // no file can replace it
        SettingsDialog dialog(p.context, nullptr, std::nullopt);
        editRow(dialog, 0, "txtClFileName", "/data/out.dat");
        dialog.findChild<QLineEdit*>("txtSessionLogDays")->setText("45");
        QVERIFY(!dialog.apply());
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QCOMPARE(p.ui.boxes[0].title, QString::fromUtf8(kSaveResultTitle));
        QVERIFY(p.ui.boxes[0].text.startsWith(
            QString("アプリケーション情報の書込みが異常終了しました。\r\nコード：　2\r\n")));
        QCOMPARE(p.state.logSettings.sessionLogDays, std::string("30")); // not reached
        p.ui.boxes.clear();

        std::filesystem::remove(service.home() / "plxapp.ini");
        QVERIFY(dialog.apply());
        QVERIFY(p.ui.boxes.empty());
        DataKindTable kinds = p.state.kinds;
        readAppIni(kinds);
        QCOMPARE(kinds[0].app.clientFileName, std::string("/data/out.dat"));
        QCOMPARE(readLogSettings().sessionLogDays, std::string("45"));
    }

    void aServiceStartedLateFillsTheDialogsAndTheListsNames() {
        SalesTerminal t;
        writeFile(t.service.home() / "plxapp.ini", "[K001]\nclfilename=/data/a.dat\nsendrecv=send\n");
        logASend(t.service);
        t.service.stop();
        Pelorin p;
        QVERIFY(p.failure);
        LogWindow window(p.context);
        window.loadFirst();
        {
            SendRecvDialog dialog(p.context, true);
            auto* unread = dialog.findChild<QLabel*>("lblUnread");
            QVERIFY(unread);
            QCOMPARE(unread->text(), displayLines(QString::fromStdString(startupFailureText(*p.failure))));
        }
        t.service.start();
        QTRY_VERIFY_WITH_TIMEOUT(!p.state.unread, static_cast<int>(test::hangCeiling().count()));
        SendRecvDialog dialog(p.context, true);
        QVERIFY(!dialog.findChild<QLabel*>("lblUnread"));
        auto* kinds = dialog.findChild<QTreeWidget*>("lvwType");
        QCOMPARE(kinds->topLevelItemCount(), 1);
        QCOMPARE(kinds->topLevelItem(0)->text(0), QString("売上"));
        auto* sessions = window.findChild<QTableView*>("lvwIchiran");
        QCOMPARE(sessions->model()->rowCount(), 1);
        QCOMPARE(cell(sessions, 0, 2), QString("売上"));
        QCOMPARE(cell(sessions, 0, 3), QString("送信"));
    }

    void aHungServiceGivesUpAfterTheBoundAndTheWindowAnswersMeanwhile() {
        SalesTerminal t;
        Pelorin p;
        QVERIFY(!p.failure);
        LogWindow window(p.context);
        window.show();
        askToQuitWhenClosedBusy(p.ui); // answered No
        Stopped stopped(t.service.pid());
        QVERIFY(stopped.held);
        // Let a service that holds the call far beyond the bound go, so
        // that the check fails instead of hanging (never after this test:
        // the timer goes with the window).
        QTimer::singleShot(test::scaled(kShortCallTimeout), &window, [pid = stopped.pid] { ::kill(pid, SIGCONT); });
        QTimer::singleShot(0, &window, [&window] { window.close(); });
        auto started = std::chrono::steady_clock::now();
        SettingsDialog dialog(p.context, &window, std::nullopt);
        auto waited = std::chrono::steady_clock::now() - started;
        BusyScope::onCloseWhileBusy({});
        QCOMPARE(p.ui.questions.size(), std::size_t(1));
        QVERIFY(window.isVisible());
        QCOMPARE(p.ui.boxes.size(), std::size_t(1));
        QCOMPARE(p.ui.boxes[0].text,
                 QString::fromStdString(failureBoxText("端末情報の読出しが異常終了しました。",
                                                       unreachableStatus(noAnswerReason(kShortCallTimeout)))));
        QVERIFY(waited >= kShortCallTimeout);
        QVERIFY(waited < test::scaled(kShortCallTimeout));
    }

    void aCloseDuringAHungCallEndsTheProgram() {
        SalesTerminal t;
        test::ScopedEnv hung("PLX_TEST_HUNG_PID", std::to_string(t.service.pid()));
        test::PeerProcess child({QCoreApplication::applicationFilePath().toStdString(), "closeWhileHung"});
        int code = child.waitExit(60);
        ::kill(t.service.pid(), SIGCONT);
        QCOMPARE(code, 0);
    }

    // The child's part of the test above: it holds the service still, opens
    // the settings and closes the window while they are being read.
    void closeWhileHung() {
        const QByteArray pid = qgetenv("PLX_TEST_HUNG_PID");
        if (pid.isEmpty()) QSKIP("run by aCloseDuringAHungCallEndsTheProgram");
        Pelorin p;
        QVERIFY(!p.failure);
        LogWindow window(p.context);
        window.show();
        p.ui.answerYes = true;
        askToQuitWhenClosedBusy(p.ui);
        if (!test::stopProcess(pid.toInt())) std::_Exit(4);
        QTimer::singleShot(0, &window, [&window] { window.close(); });
        SettingsDialog dialog(p.context, &window, std::nullopt);
        std::_Exit(3); // the close did not end the program
    }
};

QTEST_MAIN(ServiceFlowTest)
#include "ServiceFlowTest.moc"
