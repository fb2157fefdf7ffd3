// Pelorin's re-display over a folder of daily logs (see LogYearGenerator.cpp),
// on the offscreen platform:
//
//   pelorin_bench reader|window FIRST_DATE LAST_DATE
//
// PLX_BENCH_LOGS names the folder that holds session/ and api/. "reader"
// times loadLogRecords alone over the days; "window" clicks the main
// window's 再表示 with the same days and times it until the list is filled
// and painted, then scrolls the list and the detail view from top to bottom
// and counts the bytes the process read meanwhile. Prints key=value lines.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "client/LogFileReader.h"
#include "client/pelorin/LogWindow.h"

namespace {

using namespace plx;
using namespace plx::pelorin;

long peakRssKib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Bytes this process has read through system calls so far (files, pipes).
long long bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

class SilentUi final : public UiServices {
public:
    void message(QWidget*, const QString& title, const QString& text, Icon) override {
        std::fprintf(stderr, "box: %s: %s\n", title.toUtf8().constData(), text.toUtf8().constData());
    }
    bool ask(QWidget*, const QString&, const QString&) override { return false; }
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return std::nullopt; }
    std::optional<QString> chooseFile(QWidget*, const QString&) override { return std::nullopt; }
};

// Steps the view's scroll bar from top to bottom, painting at each step.
void scrollThrough(QTableView* view) {
    QScrollBar* bar = view->verticalScrollBar();
    const int steps = 400;
    for (int i = 0; i <= steps; ++i) {
        bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * i / steps));
        view->viewport()->repaint();
    }
}

int runReader(const LogSettings& folders, const std::string& from, const std::string& to) {
    QElapsedTimer timer;
    timer.start();
    LogRecords records = loadLogRecords(folders, LogFilter{from, "", to, "", LogKind::All});
    std::printf("load_ms=%lld\nsessions=%zu\npeak_rss_kib=%ld\n", timer.elapsed(), records.sessionCount(),
                peakRssKib());
    return records.sessionCount() > 0 ? 0 : 1;
}

int runWindow(const LogSettings& folders, const std::string& from, const std::string& to) {
    SilentUi ui;
    AppState state; // no wrapper: a re-display asks nothing of the service
    state.logSettings = folders;
    PelorinContext context{state, ui, {}};
    LogWindow window(context);
    window.show();
    QApplication::processEvents();
    window.findChild<QLineEdit*>("txtDateFrom")->setText(QString::fromStdString(from));
    window.findChild<QLineEdit*>("txtDateTo")->setText(QString::fromStdString(to));
    auto* list = window.findChild<QTableView*>("lvwIchiran");
    auto* detail = window.findChild<QTableView*>("lvwSyousai");

    QElapsedTimer timer;
    timer.start();
    window.findChild<QPushButton*>("cmdReDisp")->click();
    QApplication::processEvents();
    list->viewport()->repaint();
    const long long fillMs = timer.elapsed();
    const long fillRss = peakRssKib();

    // Reading /proc/self/io counts too: measure that once and take it off.
    const long long probe = bytesRead();
    const long long probeCost = bytesRead() - probe;
    const long long readBefore = bytesRead();
    timer.start();
    scrollThrough(list);
    const long long listScrollMs = timer.elapsed();
    timer.start();
    window.showDetail();
    QApplication::processEvents();
    detail->viewport()->repaint();
    const long long detailMs = timer.elapsed();
    timer.start();
    scrollThrough(detail);
    const long long detailScrollMs = timer.elapsed();
    const long long readWhileScrolling = bytesRead() - readBefore - probeCost;

    std::printf("fill_ms=%lld\nsessions=%d\nfill_peak_rss_kib=%ld\nlist_scroll_ms=%lld\ndetail_switch_ms=%lld\n"
                "detail_rows=%d\ndetail_scroll_ms=%lld\nscroll_bytes_read=%lld\npeak_rss_kib=%ld\n",
                fillMs, list->model()->rowCount(), fillRss, listScrollMs, detailMs, detail->model()->rowCount(),
                detailScrollMs, readWhileScrolling, peakRssKib());
    return list->model()->rowCount() > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const char* given = std::getenv("PLX_BENCH_LOGS");
    if (argc != 4 || !given || !*given) {
        std::fprintf(stderr, "usage: PLX_BENCH_LOGS=FOLDER pelorin_bench reader|window FIRST_DATE LAST_DATE\n");
        return 2;
    }
    std::filesystem::path logs = given;
    LogSettings folders{(logs / "api").string(), "", (logs / "session").string(), ""};
    std::string mode = argv[1];
    if (mode == "reader") return runReader(folders, argv[2], argv[3]);
    if (mode == "window") return runWindow(folders, argv[2], argv[3]);
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
}
