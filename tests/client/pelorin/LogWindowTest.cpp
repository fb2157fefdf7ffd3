// The log viewer: the filter's checks, the list and detail cells, the mode
// switch, re-run and settings on a session, and the hourglass of a call.
#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <stdexcept>

#include "client/pelorin/BusyScope.h"
#include "client/pelorin/GuiNotifier.h"
#include "client/pelorin/LogFilterCheck.h"
#include "client/pelorin/LogWindow.h"
#include "client/pelorin/TransferRun.h"
#include "tests/client/pelorin/PelorinTestSupport.h"

using namespace plx;
using namespace plx::pelorin;
using plx::test::NoService;
using plx::test::writeFile;

namespace {

// A session log line: the 23 fields with the given ones set.
std::string sessionLine(const std::map<std::size_t, std::string>& set) {
    std::string line;
    for (std::size_t i = 0; i < SessionLog::kFieldCount; ++i) {
        if (i) line += ',';
        if (auto it = set.find(i); it != set.end()) line += it->second;
    }
    return line;
}

FileRec kind(const std::string& type, const std::string& name, std::int32_t serviceNo, const std::string& protocol) {
    FileRec rec;
    rec.FileType = type;
    rec.DataName = name;
    rec.ServiceNo = serviceNo;
    rec.ProtocolFilename = protocol;
    rec.AccessKey = "AK";
    return rec;
}

// Three sessions on 2005/11/02: a send of K001 with its API line, a
// delivery by the center under service number 40000 (no API line), and a
// session whose service number no 32-bit kind can have.
void writeDay(NoService& s) {
    auto logs = s.home() / "logs";
    std::filesystem::create_directories(logs);
    s.state.logSettings.apiLogLocation = logs.string();
    s.state.logSettings.sessionLogLocation = logs.string();
    using S = SessionLog;
    std::string sessions =
        sessionLine({{S::kLevel, "0"},
                     {S::kStart, "20051102093005"},
                     {S::kEnd, "20051102093107"},
                     {S::kTransferKind, "20"},
                     {S::kPhase, "31"},
                     {S::kResultCode, "00"},
                     {S::kDetail, "0"},
                     {S::kCenterHost, "center"},
                     {S::kCenterId, "9001"},
                     {S::kSessionId, "S1"},
                     {S::kPassword, "pw"},
                     {S::kProtocolVersion, "1.0"},
                     {S::kServiceNo, "7"},
                     {S::kProtocolFilename, "PF01"},
                     {S::kAccessKey, "AK0001"},
                     {S::kCenterFileName, "c.dat"},
                     {S::kRecordLength, "1"},
                     {S::kFileSize, "1234"},
                     {S::kCompress, "1"},
                     {S::kRecordFormat, "1"},
                     {S::kLoadNo, "00000001"},
                     {S::kRecordKey, "RK1"}}) +
        "\n" +
        sessionLine({{S::kLevel, "2"},
                     {S::kStart, "20051102100000"},
                     {S::kTransferKind, "30"},
                     {S::kResultCode, "98"},
                     {S::kServiceNo, "40000"},
                     {S::kProtocolFilename, "PF02"},
                     {S::kRecordCount, "3"}}) +
        "\n" +
        sessionLine({{S::kStart, "20051102110000"}, {S::kServiceNo, "99999999999"}, {S::kProtocolFilename, "PF01"}}) +
        "\n";
    writeFile(logs / "plsession20051102.log", sessions);
    writeFile(logs / "plapi20051102.log", "20051102093107,0,0,,S1,PLSendData,K001,/data,out.dat\n"
                                          "20051102093200,0,0,,S2,PLSetData,K001,/data,other.dat\n");
    s.state.kinds.add(kind("K001", "売上", 7, "PF01"), {"/data/out.dat", "send"});
    s.state.kinds.add(kind("K002", "受注", 40000, "PF02"), {"/data/in.dat", "recv"});
}

QString cell(QTableView* view, int row, int column) { return view->model()->index(row, column).data().toString(); }

QTableView* view(LogWindow& w, const char* name) { return w.findChild<QTableView*>(QString::fromLatin1(name)); }
QLineEdit* box(QWidget& w, const char* name) { return w.findChild<QLineEdit*>(QString::fromLatin1(name)); }
QAction* action(QWidget& w, const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); }
QPushButton* button(QWidget& w, const char* name) { return w.findChild<QPushButton*>(QString::fromLatin1(name)); }

void selectRow(QTableView* v, int row) {
    v->selectionModel()->setCurrentIndex(v->model()->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

} // namespace

class LogWindowTest : public QObject {
    Q_OBJECT

private slots:
    void theFilterBoxesAreCheckedInOrder() {
        NoService s;
        LogWindow w(s.context);
        w.show();
        QVERIFY(test::becameActive(&w));
        auto check = [&](const char* focus, const QString& text) {
            s.ui.boxes.clear();
            w.redisplay();
            QCOMPARE(s.ui.boxes.size(), std::size_t(1));
            QCOMPARE(s.ui.boxes[0].title, QString::fromUtf8(kInputCheckTitle));
            QCOMPARE(s.ui.boxes[0].text, text);
            QCOMPARE(QApplication::focusWidget(), box(w, focus));
        };
        box(w, "txtDateFrom")->setText("2005/13/01");
        box(w, "txtTimeFrom")->setText("25:00");
        box(w, "txtDateTo")->setText("11/02");
        box(w, "txtTimeTo")->setText("9.30");
        check("txtDateFrom", QString::fromUtf8("日付に\"2005/11/02\"のフォーマットで入力してください"));
        box(w, "txtDateFrom")->setText("2005/1/2");
        check("txtTimeFrom", QString::fromUtf8("時刻に\"9:05\"のフォーマットで入力してください"));
        QCOMPARE(box(w, "txtDateFrom")->text(), QString("2005/01/02")); // rewritten as it passed
        box(w, "txtTimeFrom")->setText("9:30");
        check("txtDateTo", QString::fromUtf8("日付に\"2005/11/02\"のフォーマットで入力してください"));
        box(w, "txtDateTo")->setText("2005/1/1");
        check("txtTimeTo", QString::fromUtf8("時刻に\"9:05\"のフォーマットで入力してください"));
        box(w, "txtTimeTo")->setText("9:30");
        check("txtDateFrom", QString::fromUtf8("日付時刻(From)を日付時刻(To)の前に設定してください"));
        box(w, "txtDateTo")->setText("2005/01/02");
        s.ui.boxes.clear();
        w.redisplay(); // equal From and To pass
        QVERIFY(s.ui.boxes.empty());
    }

    void theListShowsEachSessionByItsKind() {
        NoService s;
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        QTableView* list = view(w, "lvwIchiran");
        QCOMPARE(list->model()->rowCount(), 3);
        const QStringList headers{"No.", "セッションID", "ファイル名称", "送受信区分", "開始", "終了", "結果", "件数"};
        for (int c = 0; c < headers.size(); ++c)
            QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE((QStringList{cell(list, 0, 0), cell(list, 0, 1), cell(list, 0, 2), cell(list, 0, 3), cell(list, 0, 4),
                              cell(list, 0, 5), cell(list, 0, 6), cell(list, 0, 7)}),
                 (QStringList{"1", "S1", "売上", "送信", "2005/11/02 9:30", "2005/11/02 9:31", "正常(00)", " "}));
        // The center's delivery: no API line, a service number above 16 bits.
        QCOMPARE(
            (QStringList{cell(list, 1, 1), cell(list, 1, 2), cell(list, 1, 3), cell(list, 1, 6), cell(list, 1, 7)}),
            (QStringList{"", "受注", "受信", "Unknown(98)", "3"}));
        // A number no kind can have matches none.
        QCOMPARE(cell(list, 2, 2), QString());
        QCOMPARE(cell(list, 2, 3), QString());
        QVERIFY(button(w, "cmdReDo")->isEnabled());
        QCOMPARE(w.selectedSession(), std::optional<std::size_t>(0));
    }

    void theDetailViewShows36RowsPerSession() {
        NoService s;
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        w.showDetail();
        QTableView* detail = view(w, "lvwSyousai");
        QCOMPARE(detail->model()->rowCount(), 3 * 36);
        const QStringList labels{"日付",
                                 "エラーコード",
                                 "詳細コード",
                                 "メッセージ",
                                 "API名",
                                 "引数1",
                                 "引数2",
                                 "引数3",
                                 "引数4",
                                 "引数5",
                                 "引数6",
                                 "引数7",
                                 "引数8",
                                 "引数9",
                                 "ログ種別",
                                 "通信開始日付",
                                 "通信終了日付",
                                 "通信種別",
                                 "障害箇所",
                                 "集配信結果コード",
                                 "詳細コード",
                                 "相手ホスト",
                                 "センタID",
                                 "パスワード",
                                 "プロトコル識別",
                                 "業務番号",
                                 "プロトコル上ファイル名",
                                 "ファイルアクセスキー",
                                 "センターファイル名",
                                 "レコード長",
                                 "レコード数",
                                 "ファイル長",
                                 "データ圧縮フラグ",
                                 "レコードフラグ",
                                 "ロード番号",
                                 "運用ファイル名"};
        const QStringList values{"2005/11/02 9:31",
                                 "0",
                                 "0",
                                 "",
                                 "PLSendData",
                                 "K001",
                                 "/data",
                                 "out.dat",
                                 "",
                                 "",
                                 "",
                                 "",
                                 "",
                                 "",
                                 "情報(0)",
                                 "2005/11/02 9:30",
                                 "2005/11/02 9:31",
                                 "端末起動集信(20)",
                                 "完了回答(31)",
                                 "正常(00)",
                                 "0",
                                 "center",
                                 "9001",
                                 "pw",
                                 "1.0",
                                 "7",
                                 "PF01",
                                 "AK0001",
                                 "c.dat",
                                 "1",
                                 "",
                                 "1234",
                                 "gzipによる圧縮(1)",
                                 "可変長(1)",
                                 "00000001",
                                 "RK1"};
        for (int r = 0; r < 36; ++r) {
            QCOMPARE(cell(detail, r, 0), QString("1"));
            QCOMPARE(cell(detail, r, 1), QString("S1"));
            QCOMPARE(cell(detail, r, 2), labels[r]);
            QCOMPARE(cell(detail, r, 3), values[r]);
        }
        // Without an API line the session id and the rows 日付 to 引数9 are empty.
        for (int r = 36; r < 36 + 14; ++r) {
            QCOMPARE(cell(detail, r, 0), QString("2"));
            QCOMPARE(cell(detail, r, 1), QString());
            QCOMPARE(cell(detail, r, 3), QString());
        }
        QCOMPARE(cell(detail, 36 + 14, 3), QString("エラー(2)"));
        QCOMPARE(cell(detail, 36 + 17, 3), QString("センタ起動配信(30)"));
    }

    void theSelectedSessionSurvivesTheModeSwitch() {
        NoService s;
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        QTableView* list = view(w, "lvwIchiran");
        QTableView* detail = view(w, "lvwSyousai");
        QCOMPARE(w.windowTitle(), QString("Korvane PLX ログ一覧"));
        QVERIFY(!action(w, "mnuIchiran")->isEnabled());
        selectRow(list, 2);
        action(w, "mnuSyousai")->trigger();
        QCOMPARE(w.windowTitle(), QString("Korvane PLX ログ詳細"));
        QVERIFY(w.detailMode());
        QCOMPARE(detail->selectionModel()->selectedRows().value(0).row(), 72);
        QVERIFY(detail->isEnabled() && !list->isEnabled());
        QVERIFY(button(w, "cmdIchiran")->isEnabled() && !button(w, "cmdSyousai")->isEnabled());
        QVERIFY(action(w, "mnuIchiran")->isEnabled() && !action(w, "mnuSyousai")->isEnabled());
        selectRow(detail, 36 + 20); // a row of the second session
        QCOMPARE(w.selectedSession(), std::optional<std::size_t>(1));
        button(w, "cmdIchiran")->click();
        QCOMPARE(w.windowTitle(), QString("Korvane PLX ログ一覧"));
        QCOMPARE(list->selectionModel()->selectedRows().value(0).row(), 1);
        QVERIFY(list->isEnabled() && !detail->isEnabled());
        // A re-display while the detail view is in front fills it at once.
        w.showDetail();
        w.redisplay();
        QCOMPARE(detail->model()->rowCount(), 3 * 36);
        QCOMPARE(w.selectedSession(), std::optional<std::size_t>(0));
    }

    void anEmptyListOffersNoRerun() {
        NoService s;
        LogWindow w(s.context);
        w.loadFirst();
        QCOMPARE(view(w, "lvwIchiran")->model()->rowCount(), 0);
        QVERIFY(!button(w, "cmdReDo")->isEnabled());
        QVERIFY(!action(w, "popReDo")->isEnabled());
        QVERIFY(!action(w, "popSettei")->isEnabled());
        QCOMPARE(w.selectedSession(), std::nullopt);
        w.rerun();
        w.openKindSettings();
        QVERIFY(s.ui.boxes.empty());
    }

    void aSessionWithoutItsKindCannotBeRerunOrSet() {
        NoService s;
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        selectRow(view(w, "lvwIchiran"), 2);
        w.rerun();
        w.openKindSettings();
        QCOMPARE(s.ui.boxes.size(), std::size_t(2));
        QCOMPARE(s.ui.boxes[0].title, QString("Korvane PLX 送受信"));
        QCOMPARE(s.ui.boxes[0].text, QString("ファイル名称が見つからないため、再実行できません。"));
        QCOMPARE(s.ui.boxes[1].title, QString("Korvane PLX 設定"));
        QCOMPARE(s.ui.boxes[1].text, QString("ファイル名称が見つからないため、設定できません。"));
    }

    void aRerunThroughAWrapperThatDidNotStartReportsItsTriple() {
        NoService s;
        QVERIFY(s.failure().has_value());
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        w.rerun();
        QCOMPARE(s.ui.boxes.size(), std::size_t(1));
        QCOMPARE(s.ui.boxes[0].title, QString::fromUtf8(kTransferResultTitle));
        QStringList lines = s.ui.boxes[0].text.split("\r\n");
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QString("売上の送信が異常終了しました。"));
        QCOMPARE(lines[1], QString("コード：　1"));
        QVERIFY(lines[2].startsWith(QString("内容：　サービスに接続できません")));
        QCOMPARE(lines[3], QString("詳細コード：　99"));
        QVERIFY(w.isEnabled());
    }

    void theSettingsOfASessionOpenItsKindsEditor() {
        NoService s;
        writeDay(s);
        LogWindow w(s.context);
        w.loadFirst();
        selectRow(view(w, "lvwIchiran"), 1);
        QString seenType;
        int seenTab = -1;
        int seenRow = -1;
        test::whenModal("Korvane PLX 設定 - ファイル情報", [&](QWidget* editor) {
            seenType = editor->findChild<QLineEdit*>("txtFileType")->text();
            static_cast<QDialog*>(editor)->reject();
            test::whenModal("Korvane PLX 設定", [&](QWidget* settings) {
                seenTab = settings->findChild<QTabWidget*>("SSTab1")->currentIndex();
                auto* list = settings->findChild<QTreeWidget*>("lvwFile");
                seenRow = list->indexOfTopLevelItem(list->currentItem());
                static_cast<QDialog*>(settings)->reject();
            });
        });
        w.openKindSettings();
        QCOMPARE(seenType, QString("K002"));
        QCOMPARE(seenTab, 1);
        QCOMPARE(seenRow, 1);
    }

    void theVersionBox() {
        NoService s;
        LogWindow w(s.context);
        action(w, "mnuVersion")->trigger();
        QCOMPARE(s.ui.boxes.size(), std::size_t(1));
        QCOMPARE(s.ui.boxes[0].title, QString("Korvane PLX バージョン情報"));
        QCOMPARE(s.ui.boxes[0].text, QString("Pelorinクライアントアプリケーション\r\rバージョン: 1.2.1 (2005/11/02)"));
    }

    void aCallHoldsTheWindowAndTheWaitCursorUntilItEnds() {
        NoService s;
        LogWindow w(s.context);
        w.show();
        bool enabled = true;
        bool closed = true;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        runOffThread(&w, [&] {
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    enabled = w.isEnabled();
                    cursor = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
                    closed = w.close();
                },
                Qt::BlockingQueuedConnection);
        });
        QVERIFY(!enabled);
        QCOMPARE(cursor, Qt::WaitCursor);
        QVERIFY(!closed);
        QVERIFY(w.isEnabled());
        QVERIFY(w.isVisible());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // A failure of the work comes back, and undoes the same.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, runOffThread(&w, [] { throw std::runtime_error("x"); }));
        QVERIFY(w.isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void theWrappersBoxesAreShownOnTheWindowsThread() {
        test::RecordingUi ui;
        GuiNotifier notifier(ui);
        runOffThread(nullptr, [&] {
            notifier.show("Korvane/PLX プログラム実行", "\"x\"の呼び出しに失敗しました。", UserNotifier::Icon::Warning);
        });
        QCOMPARE(ui.boxes.size(), std::size_t(1));
        QVERIFY(ui.boxes[0].onWindowThread);
        QCOMPARE(ui.boxes[0].text, QString("\"x\"の呼び出しに失敗しました。"));
    }
};

QTEST_MAIN(LogWindowTest)
#include "LogWindowTest.moc"
