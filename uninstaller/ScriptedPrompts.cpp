#include "uninstaller/ScriptedPrompts.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "uninstaller/CommaText.h"
#include "uninstaller/MainDialog.h"
#include "uninstaller/RemovalReport.h"
#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace {

struct ScriptAnswer {
    const char* word;
    SharedFileAnswer answer;
};
constexpr ScriptAnswer kAnswers[] = {{"yes", SharedFileAnswer::Yes},
                                     {"yes-to-all", SharedFileAnswer::YesToAll},
                                     {"no", SharedFileAnswer::No},
                                     {"no-to-all", SharedFileAnswer::NoToAll}};

constexpr const char* kStartAnswer = "ok";
constexpr const char* kCancelAnswer = "cancel";

} // namespace

ScriptedPrompts::ScriptedPrompts(const std::string& script) {
    for (auto& answer : splitCommaText(script)) answers_.push_back(std::move(answer));
}

std::string ScriptedPrompts::next(const char* fallback) {
    if (answers_.empty()) return fallback;
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
}

void ScriptedPrompts::inform(QWidget*, const std::string& text, const std::string& caption) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r') c = '\n';
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
}

bool ScriptedPrompts::confirm(QWidget*, const std::string&) { return false; }

void ScriptedPrompts::openUrl(const std::string&) {}

SharedFileAnswer ScriptedPrompts::askSharedFile(QWidget*, const std::filesystem::path&) {
    std::string word = next("no");
    for (const auto& a : kAnswers)
        if (word == a.word) return a.answer;
    return SharedFileAnswer::No;
}

std::optional<std::string> unknownScriptAnswer(const std::string& script) {
    std::vector<std::string> answers = splitCommaText(script);
    if (answers.empty()) return script;
    if (answers[0] != kStartAnswer && answers[0] != kCancelAnswer) return answers[0];
    for (std::size_t i = 1; i < answers.size(); ++i)
        if (std::none_of(std::begin(kAnswers), std::end(kAnswers),
                         [&](const ScriptAnswer& a) { return answers[i] == a.word; }))
            return answers[i];
    return std::nullopt;
}

void ScriptedPrompts::attend(MainDialog& dialog) {
    if (next(kCancelAnswer) != kStartAnswer) {
        QTimer::singleShot(0, &dialog, &MainDialog::reject);
        return;
    }
    // OK once to remove, and once more ("完了") when the removal is done,
    // after telling what stayed.
    QObject::connect(&dialog, &MainDialog::removalFinished, &dialog, [this, &dialog](int result) {
        for (const auto& line : removalReport(dialog.engine(), result)) inform(&dialog, line, kMessageCaption);
        QTimer::singleShot(0, &dialog, &MainDialog::pressOk);
    });
    QTimer::singleShot(0, &dialog, &MainDialog::pressOk);
}

} // namespace plx::uninst
