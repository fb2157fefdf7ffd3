#include "client/StartupLoad.h"

#include "api/TermDefinitionRules.h"

namespace plx {

namespace {

constexpr const char* kTermReadFailed = "端末情報の読出しが異常終了しました。";

std::optional<StartupFailure> createWrapper(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.wrapper = std::make_unique<ServiceWrapper>(notifier, std::move(clock));
    if (state.wrapper->LastErrorCd() == 0) return std::nullopt;
    return StartupFailure{"Pelorinの初期化が異常終了しました。", state.wrapper->triple()};
}

} // namespace

std::optional<StartupFailure> loadDataKinds(ServiceWrapper& wrapper, DataKindTable& table) {
    DataKindTable kinds;
    std::int32_t count = wrapper.GetFileInfo();
    if (wrapper.LastErrorCd() != 0) return StartupFailure{"ファイル情報数の取得が異常終了しました。", wrapper.triple()};
    for (std::int32_t i = 0; i < count; ++i) {
        kinds.add(wrapper.GetFileInfoAt(i));
        if (wrapper.LastErrorCd() != 0)
            return StartupFailure{"ファイル情報の読出しが異常終了しました。", wrapper.triple()};
    }
    readAppIni(kinds);
    table = std::move(kinds);
    return std::nullopt;
}

std::optional<StartupFailure> loadServiceSettings(ServiceWrapper& wrapper, TerminalRec& terminal,
                                                  DataKindTable& table) {
    TerminalRec now = wrapper.GetTermInfo();
    const CallStatus& read = wrapper.triple();
    // A first run has no terminal information yet: the settings dialog is where it is entered.
    bool firstRun = read.code == kApiSystemError && read.detail == kNoTermInfoDetail;
    StartupFailure readFailure{kTermReadFailed, read};
    bool toRepair = termToRepair(readFailure).has_value();
    if (!read.ok() && !firstRun && !toRepair) return readFailure;
    if (auto failure = loadDataKinds(wrapper, table)) return failure;
    terminal = std::move(now);
    if (toRepair) return readFailure;
    return std::nullopt;
}

std::optional<std::size_t> termToRepair(const StartupFailure& failure) {
    if (failure.firstLine != kTermReadFailed) return std::nullopt;
    return storedTermFault(failure.triple.code, failure.triple.message);
}

std::optional<StartupFailure> loadStartupData(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.kinds.clear();
    state.logSettings = readLogSettings();
    state.unread = createWrapper(state, notifier, std::move(clock));
    if (!state.unread) state.unread = loadServiceSettings(*state.wrapper, state.terminal, state.kinds);
    return state.unread;
}

std::optional<CallStatus> loadBatchGlobals(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.kinds.clear();
    auto failure = createWrapper(state, notifier, std::move(clock));
    if (!failure) failure = loadDataKinds(*state.wrapper, state.kinds);
    if (failure) return failure->triple;
    return std::nullopt;
}

std::string startupFailureText(const StartupFailure& failure) {
    return failureBoxText(failure.firstLine, failure.triple);
}

} // namespace plx
