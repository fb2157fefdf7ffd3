#include "client/StartupLoad.h"

namespace plx {

namespace {

CallStatus tripleOf(const ServiceWrapper& wrapper) {
    return {wrapper.LastErrorCd(), wrapper.LastErrorCdDetail(), wrapper.LastErrorMsg()};
}

std::optional<StartupFailure> createWrapper(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.wrapper = std::make_unique<ServiceWrapper>(notifier, std::move(clock));
    if (state.wrapper->LastErrorCd() == 0) return std::nullopt;
    return StartupFailure{"Pelorinの初期化が異常終了しました。", tripleOf(*state.wrapper)};
}

// Every registered data kind, in the service's order, with its pair.
std::optional<StartupFailure> loadDataKinds(AppState& state) {
    ServiceWrapper& wrapper = *state.wrapper;
    DataKindTable kinds;
    std::int32_t count = wrapper.GetFileInfo();
    if (wrapper.LastErrorCd() != 0) return StartupFailure{"ファイル情報数の取得が異常終了しました。", tripleOf(wrapper)};
    for (std::int32_t i = 0; i < count; ++i) {
        kinds.add(wrapper.GetFileInfoAt(i));
        if (wrapper.LastErrorCd() != 0)
            return StartupFailure{"ファイル情報の読出しが異常終了しました。", tripleOf(wrapper)};
    }
    readAppIni(kinds);
    state.kinds = std::move(kinds);
    return std::nullopt;
}

} // namespace

std::optional<StartupFailure> loadStartupData(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.kinds.clear();
    state.logSettings = readLogSettings();
    if (auto failure = createWrapper(state, notifier, std::move(clock))) return failure;
    state.terminal = state.wrapper->GetTermInfo();
    if (state.wrapper->LastErrorCd() != 0)
        return StartupFailure{"端末情報の読出しが異常終了しました。", tripleOf(*state.wrapper)};
    return loadDataKinds(state);
}

std::optional<CallStatus> loadBatchGlobals(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock) {
    state.kinds.clear();
    auto failure = createWrapper(state, notifier, std::move(clock));
    if (!failure) failure = loadDataKinds(state);
    if (failure) return failure->triple;
    return std::nullopt;
}

std::string startupFailureText(const StartupFailure& failure) {
    return failure.firstLine + "\r\nコード：　" + std::to_string(failure.triple.code) + "\r\n内容：　" +
           failure.triple.message + "\r\n詳細コード：　" + std::to_string(failure.triple.detail);
}

} // namespace plx
