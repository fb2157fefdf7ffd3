#include "client/pelorin/SettingsSave.h"

#include "api/FileDefinitionRules.h"

namespace plx::pelorin {

namespace {

bool alreadyGone(const CallStatus& triple) {
    return triple.code == kApiSystemError && triple.message == kFileTypeNotFoundText;
}

SaveFailure iniFailure(const char* firstLine, const ClientIniError& error) {
    return {firstLine, CallStatus{kApiSystemError, error.code().value(), error.what()}, std::nullopt};
}

// The checks PLSetFileInfo makes, on every entry before anything changes.
std::optional<SaveFailure> refusedDefinition(const DataKindTable& kinds) {
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (auto fault = checkFileDefinition(kinds[i].file))
            return SaveFailure{"ファイル情報の書込みが異常終了しました。",
                               CallStatus{kApiBadArgument, fault->position, std::string(fault->message)}, i};
    }
    return std::nullopt;
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
        if (wrapper.LastErrorCd() != 0)
            return SaveFailure{"ファイル情報の書込みが異常終了しました。", wrapper.triple(), std::nullopt};
    }
    return std::nullopt;
}

} // namespace

SaveOutcome saveSettings(ServiceWrapper& wrapper, const DataKindTable& saved, const SettingsChanges& changes) {
    SaveOutcome outcome;
    wrapper.SetTermInfo(changes.terminal);
    if (wrapper.LastErrorCd() != 0) {
        outcome.failure = SaveFailure{"端末情報の書込みが異常終了しました。", wrapper.triple(), std::nullopt};
        return outcome;
    }
    outcome.terminalSaved = true;

    if ((outcome.failure = refusedDefinition(changes.kinds))) return outcome;
    if ((outcome.failure = replaceDefinitions(wrapper, saved, changes.kinds))) {
        DataKindTable now;
        if (!loadDataKinds(wrapper, now)) outcome.kindsNow = std::move(now);
        return outcome;
    }
    outcome.kindsSaved = true;

    try {
        writeAppIni(changes.kinds);
    } catch (const ClientIniError& error) {
        outcome.failure = iniFailure("アプリケーション情報の書込みが異常終了しました。", error);
        return outcome;
    }
    try {
        writeLogSettings(changes.logs);
    } catch (const ClientIniError& error) {
        outcome.failure = iniFailure("ログ設定の書込みが異常終了しました。", error);
        return outcome;
    }
    outcome.logsSaved = true;
    return outcome;
}

void keepSaved(AppState& state, const SettingsChanges& changes, SaveOutcome& outcome) {
    if (outcome.terminalSaved) state.terminal = changes.terminal;
    if (outcome.kindsSaved)
        state.kinds = changes.kinds;
    else if (outcome.kindsNow)
        state.kinds = std::move(*outcome.kindsNow);
    if (outcome.logsSaved) state.logSettings = changes.logs;
}

} // namespace plx::pelorin
