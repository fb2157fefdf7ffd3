#pragma once
// The settings dialog's save, in its fixed order: the terminal information,
// then the data kinds (every definition saved before deleted, every entry
// of the working list written), then plxapp.ini and the log settings of
// plconfig.ini. The first failure stops it.
//
// Before the first write everything is checked: the terminal information
// and every data kind with the service's own rules, what the ini files
// cannot carry, and that both ini files can be replaced; a refusal changes
// nothing and names the place or file at fault. A
// kind already gone from the service counts as deleted. After a failure among the
// data kinds the table is read back from the service, so that the next save
// deletes what the service really holds.

#include <cstddef>
#include <optional>
#include <string>

#include "client/CallStatus.h"
#include "client/ClientIni.h"
#include "client/DataKinds.h"
#include "client/ServiceWrapper.h"
#include "client/StartupLoad.h"

namespace plx::pelorin {

inline constexpr const char* kSaveResultTitle = "Korvane PLX 設定結果";

struct SettingsChanges {
    TerminalRec terminal;
    DataKindTable kinds; // the working list
    LogSettings logs;
};

// Where the check before the save found a fault: the tab (0 terminal,
// 1 data kinds, 2 options) and the field (the terminal's in record order,
// the working entry, the log setting in LogSettings order).
struct SettingsPlace {
    int tab = 0;
    std::size_t index = 0;
};

struct SaveFailure {
    std::string firstLine; // the failed step, for failureBoxText
    CallStatus triple;
    std::optional<SettingsPlace> place; // set when the check refused
};

struct SaveOutcome {
    std::optional<SaveFailure> failure;
    bool terminalSaved = false;
    bool kindsSaved = false;
    std::optional<DataKindTable> kindsNow; // read back after a failure among the data kinds
    bool appSaved = false;                 // plxapp.ini
    bool logsSaved = false;                // plconfig.ini
};

// Saves changes through wrapper; saved is the data-kind table as loaded at
// start or last saved. Touches only the wrapper and the ini files: runs on
// a worker while the window waits.
SaveOutcome saveSettings(ServiceWrapper& wrapper, const DataKindTable& saved, const SettingsChanges& changes);

// What the program keeps after a save: the parts saved, and the data kinds
// read back after a failure.
void keepSaved(AppState& state, const SettingsChanges& changes, SaveOutcome& outcome);

// For the failure box of a save that stopped after its first write: a line
// with the parts saved and one with those not saved ("" before any write).
std::string savedPartsText(const SaveOutcome& outcome);

} // namespace plx::pelorin
