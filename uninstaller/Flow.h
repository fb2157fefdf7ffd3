#pragma once
// CVUninst from start to end: the information file (the first argument, or
// the program's own path with ".wqi"), the stage, the single instance, the
// main dialog and the clean-up after it (uninstaller/TwoStage.h).
//
// Exit code: the removal's result (0, 1 or 3; 0 when the dialog was
// cancelled) in the second stage, the second stage's exit code (or the
// result it sent when it ended the first stage) in the first, and 1 when the
// run could not start.

namespace plx::uninst {

int runUninstaller(int argc, char** argv);

} // namespace plx::uninst
