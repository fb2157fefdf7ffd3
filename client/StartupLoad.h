#pragma once
// What a client program loads once at start: the one service wrapper, the log
// settings, the terminal information and the data kinds with their
// plxapp.ini pairs. The first failing step ends the load and is returned with
// the wrapper's triple after it, for the program's failure box.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "client/ClientIni.h"
#include "client/DataKinds.h"
#include "client/ServiceWrapper.h"

namespace plx {

struct StartupFailure {
    // The failure box's first line, naming the step.
    std::string firstLine;
    CallStatus triple;
};

struct AppState {
    std::unique_ptr<ServiceWrapper> wrapper;
    LogSettings logSettings;
    TerminalRec terminal;
    DataKindTable kinds;
    // Why the terminal information and the data kinds are not the
    // service's: the load's failure, until a later read succeeds.
    std::optional<StartupFailure> unread;
};

// The desktop client's load: log settings, a new wrapper, the terminal
// information (none stored yet is no failure: a first run), the data kinds
// and their pairs. After a failure the wrapper is kept (a wrapper that did
// not start answers every transfer with that failure), the data-kind
// table is empty and state.unread holds the failure.
std::optional<StartupFailure> loadStartupData(AppState& state, UserNotifier& notifier,
                                              ServiceWrapper::Clock clock = {});

// The batch program's load: a new wrapper, the data kinds and their pairs;
// neither plconfig.ini nor the terminal information. On failure the table
// is empty and the returned triple says why.
std::optional<CallStatus> loadBatchGlobals(AppState& state, UserNotifier& notifier, ServiceWrapper::Clock clock = {});

// The terminal information and every data kind the service holds now, into
// terminal and table; both are left as they were when a call fails. No
// terminal information stored yet (a first run) is no failure: terminal is
// then empty. A record refused for a stored value is loaded as the service
// read it, the data kinds too, and the failure returned (termToRepair).
std::optional<StartupFailure> loadServiceSettings(ServiceWrapper& wrapper, TerminalRec& terminal, DataKindTable& table);

// The key (termKeys() order) whose stored value failed the terminal
// information's read, which the load went on past; nullopt for any other
// failure.
std::optional<std::size_t> termToRepair(const StartupFailure& failure);

// Every data kind the service holds now, in its order, each with its
// plxapp.ini pair, into table; table is left as it was when a call fails.
std::optional<StartupFailure> loadDataKinds(ServiceWrapper& wrapper, DataKindTable& table);

// The failure box: title and four lines joined by CR LF (the step, then
// code, message and detail of the triple).
inline constexpr const char* kStartupBoxTitle = "Korvane PLX アプリケーション";
std::string startupFailureText(const StartupFailure& failure);

} // namespace plx
