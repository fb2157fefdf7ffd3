#pragma once
// CVUninst from start to end: the information file (the first argument, or
// the program's own path with ".wqi"), the stage, the single instance, the
// main dialog and the clean-up after it (uninstaller/TwoStage.h).
//
// Exit codes (the first stage ends with the second's, once it has ended):
//   0  everything went (files kept by rule are named on the way)
//   1  the run could not start, or the information file could not be deleted
//   2  PLX_UNINST_SCRIPT holds a word the program does not know
//   3  listed files that should have gone stayed
//   4  cancelled
//   5  not an install-information file: nothing was touched
//   6  a registration could not be undone: nothing was removed
// Only after 0 does the started program delete itself.

namespace plx::uninst {

inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 4;
inline constexpr int kExitNotInstallInfo = 5;

int runUninstaller(int argc, char** argv);

} // namespace plx::uninst
