#include "uninstaller/RemovalReport.h"

#include "uninstaller/Texts.h"

namespace plx::uninst {

std::vector<std::string> removalReport(const TCVUnInstall& engine, int result) {
    std::vector<std::string> lines;
    if (result == TCVUnInstall::kUnregisterFailed)
        lines.push_back(formatText(kUnregisterStopped, {engine.unregisterFailure()}));
    else if (result != TCVUnInstall::kRemoved)
        lines.emplace_back(kFilesRemained);
    for (const auto& kept : engine.keptFiles()) lines.push_back(formatText(kKeptFile, {kept.path, kept.reason}));
    return lines;
}

} // namespace plx::uninst
