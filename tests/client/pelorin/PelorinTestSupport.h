#pragma once
// What the window tests share: a desktop that records its boxes and answers
// its choosers, a fixed clock, a wrapper whose service is not there, and a
// wait for a modal dialog to come up.

#include <QApplication>
#include <QDialog>
#include <QString>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "client/StartupLoad.h"
#include "client/pelorin/PelorinContext.h"
#include "client/pelorin/UiServices.h"
#include "tests/service/BusFixture.h"

namespace plx::test {

// Every variable a window test sets goes through Qt's environment lock.
inline const bool kQtEnvironmentWriter = [] {
    useEnvironmentWriter({[](const char* name, const char* value) { qputenv(name, QByteArray(value)); },
                          [](const char* name) { qunsetenv(name); }});
    return true;
}();

class RecordingUi final : public pelorin::UiServices {
public:
    struct Box {
        QString title;
        QString text;
        Icon icon;
        bool onWindowThread; // shown on the thread the application runs on
    };

    std::vector<Box> boxes;
    std::vector<QString> questions; // the texts asked
    bool answerYes = false;
    std::vector<QString> folderStarts;
    std::vector<QString> fileFilters;
    // The choosers' answers in turn; "" or none left: cancelled.
    std::deque<QString> folderAnswers;
    std::deque<QString> fileAnswers;

    void message(QWidget*, const QString& title, const QString& text, Icon icon) override {
        boxes.push_back({title, text, icon, QThread::currentThread() == qApp->thread()});
    }
    bool ask(QWidget*, const QString&, const QString& text) override {
        questions.push_back(text);
        return answerYes;
    }
    std::optional<QString> chooseFolder(QWidget*, const QString& start) override {
        folderStarts.push_back(start);
        return next(folderAnswers);
    }
    std::optional<QString> chooseFile(QWidget*, const QString& filters) override {
        fileFilters.push_back(filters);
        return next(fileAnswers);
    }

    // The texts of the boxes shown so far, in order; clears the record.
    QStringList takeTexts() {
        QStringList texts;
        for (const Box& box : boxes) texts << box.text;
        boxes.clear();
        return texts;
    }

private:
    static std::optional<QString> next(std::deque<QString>& answers) {
        if (answers.empty()) return std::nullopt;
        QString answer = answers.front();
        answers.pop_front();
        if (answer.isEmpty()) return std::nullopt;
        return answer;
    }
};

// 2005/11/02 9:05:03.
inline LocalDateTime fixedNow() { return LocalDateTime{2005, 11, 2, 9, 5, 3}; }

// The follow-up program's boxes, dropped.
class QuietNotifier final : public UserNotifier {
public:
    void show(const std::string&, const std::string&, Icon) override {}
};

// A program folder whose bus has no service: the wrapper does not start and
// answers with code 1, detail 99.
class NoService {
    using Quiet = QuietNotifier;
    // Before the state: the wrapper goes while its bus is still there.
    ScopedHome home_;
    PrivateBus empty_;
    ScopedEnv bus_{"PLX_BUS", empty_.address()};
    Quiet notifier_;

public:
    NoService() { failure_ = loadStartupData(state, notifier_); }
    const std::filesystem::path& home() const { return home_.path(); }
    const std::optional<StartupFailure>& failure() const { return failure_; }

    AppState state;
    RecordingUi ui;
    pelorin::PelorinContext context{state, ui, fixedNow};

private:
    std::optional<StartupFailure> failure_;
};

// Whether window became the active one within the hang ceiling.
inline bool becameActive(QWidget* window) {
    return QTest::qWaitForWindowActive(window, static_cast<int>(hangCeiling().count()));
}

// Runs act on the modal dialog titled title once it is up (checked every
// few milliseconds, given up at the hang ceiling).
inline void whenModal(const QString& title, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + hangCeiling();
    QObject::connect(poll, &QTimer::timeout, [poll, title, act, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->windowTitle() == title) {
            poll->stop();
            poll->deleteLater();
            act(modal);
            // A dialog act did not close must not hold the test.
            if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible()) dialog->reject();
        } else if (std::chrono::steady_clock::now() > deadline) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

} // namespace plx::test
