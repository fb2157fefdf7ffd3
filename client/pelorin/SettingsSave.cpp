#include "client/pelorin/SettingsSave.h"

#include "api/FileDefinitionRules.h"
#include "api/TermDefinitionRules.h"

namespace plx::pelorin {

namespace {

bool alreadyGone(const CallStatus& triple) {
    return triple.code == kApiSystemError && triple.message == kFileTypeNotFoundText;
}

// One step on an ini file; its failure as the box shows it.
template <typename Step>
std::optional<SaveFailure> iniStep(const char* firstLine, Step step) {
    try {
        step();
    } catch (const ClientIniError& error) {
        return SaveFailure{firstLine, CallStatus{kApiSystemError, error.code().value(), error.what()}, std::nullopt};
    }
    return std::nullopt;
}

constexpr const char* kTermWriteFailed = "端末情報の書込みが異常終了しました。";
constexpr const char* kKindWriteFailed = "ファイル情報の書込みが異常終了しました。";
constexpr const char* kAppWriteFailed = "アプリケーション情報の書込みが異常終了しました。";
constexpr const char* kLogWriteFailed = "ログ設定の書込みが異常終了しました。";

SaveFailure refusal(const char* firstLine, std::int32_t position, std::string_view message, SettingsPlace place) {
    return {firstLine, CallStatus{kApiBadArgument, position, std::string(message)}, place};
}

// The pair's texts, then the log settings: what the ini files must carry.
std::optional<SaveFailure> refusedIniValue(const SettingsChanges& changes) {
    for (std::size_t i = 0; i < changes.kinds.size(); ++i) {
        const AppIniPair& app = changes.kinds[i].app;
        if (!fitsIniValue(app.clientFileName) || !fitsIniValue(app.direction))
            return refusal(kAppWriteFailed, 0, kUnstorableText, {1, i});
    }
    const LogSettings& logs = changes.logs;
    const std::string* texts[] = {&logs.apiLogLocation, &logs.apiLogDays, &logs.sessionLogLocation,
                                  &logs.sessionLogDays};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (!fitsIniValue(*texts[i])) return refusal(kLogWriteFailed, 0, kUnstorableText, {2, i});
    }
    return std::nullopt;
}

// Everything the save will write, checked before the first write: the
// values, and that the ini files can be replaced.
std::optional<SaveFailure> refusedChange(const SettingsChanges& changes) {
    if (auto fault = checkTermDefinition(changes.terminal))
        return refusal(kTermWriteFailed, fault->position, fault->message,
                       {0, static_cast<std::size_t>(fault->position - 1)});
    for (std::size_t i = 0; i < changes.kinds.size(); ++i) {
        if (auto fault = checkFileDefinition(changes.kinds[i].file))
            return refusal(kKindWriteFailed, fault->position, fault->message, {1, i});
    }
    if (auto fault = refusedIniValue(changes)) return fault;
    if (auto fault = iniStep(kAppWriteFailed, [&] { checkAppIniWritable(changes.kinds); })) return fault;
    return iniStep(kLogWriteFailed, [] { checkLogSettingsWritable(); });
}

std::optional<SaveFailure> replaceDefinitions(ServiceWrapper& wrapper, const DataKindTable& saved,
                                              const DataKindTable& kinds) {
    for (const DataKind& old : saved) {
        wrapper.DeleteFileInfo(old.file.FileType);
        if (wrapper.LastErrorCd() != 0 && !alreadyGone(wrapper.triple()))
            return SaveFailure{"ファイル情報の削除が異常終了しました。", wrapper.triple(), std::nullopt};
    }
    for (const DataKind& entry : kinds) {
        wrapper.SetFileInfo(entry.file);
        if (wrapper.LastErrorCd() != 0) return SaveFailure{kKindWriteFailed, wrapper.triple(), std::nullopt};
    }
    return std::nullopt;
}

} // namespace

SaveOutcome saveSettings(ServiceWrapper& wrapper, const DataKindTable& saved, const SettingsChanges& changes) {
    SaveOutcome outcome;
    if ((outcome.failure = refusedChange(changes))) return outcome;
    wrapper.SetTermInfo(changes.terminal);
    if (wrapper.LastErrorCd() != 0) {
        outcome.failure = SaveFailure{kTermWriteFailed, wrapper.triple(), std::nullopt};
        return outcome;
    }
    outcome.terminalSaved = true;

    if ((outcome.failure = replaceDefinitions(wrapper, saved, changes.kinds))) {
        DataKindTable now;
        if (!loadDataKinds(wrapper, now)) outcome.kindsNow = std::move(now);
        return outcome;
    }
    outcome.kindsSaved = true;

    if ((outcome.failure = iniStep(kAppWriteFailed, [&] { writeAppIni(changes.kinds); }))) return outcome;
    outcome.appSaved = true;
    if ((outcome.failure = iniStep(kLogWriteFailed, [&] { writeLogSettings(changes.logs); }))) return outcome;
    outcome.logsSaved = true;
    return outcome;
}

void keepSaved(AppState& state, const SettingsChanges& changes, SaveOutcome& outcome) {
    if (outcome.terminalSaved) state.terminal = changes.terminal;
    if (outcome.kindsSaved) {
        state.kinds = changes.kinds;
        if (!outcome.appSaved) readAppIni(state.kinds); // the pairs plxapp.ini still holds
    } else if (outcome.kindsNow) {
        state.kinds = std::move(*outcome.kindsNow);
    }
    if (outcome.logsSaved) state.logSettings = changes.logs;
}

std::string savedPartsText(const SaveOutcome& outcome) {
    if (!outcome.terminalSaved) return {};
    const std::pair<bool, const char*> parts[] = {{outcome.terminalSaved, "端末情報"},
                                                  {outcome.kindsSaved, "ファイル情報"},
                                                  {outcome.appSaved, "アプリケーション情報"},
                                                  {outcome.logsSaved, "ログ設定"}};
    std::string saved;
    std::string unsaved;
    for (auto [done, name] : parts) {
        std::string& list = done ? saved : unsaved;
        list += (list.empty() ? "" : "、") + std::string(name);
    }
    return "\r\n保存済み：　" + saved + "\r\n未保存：　" + unsaved;
}

} // namespace plx::pelorin
