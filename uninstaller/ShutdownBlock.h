#pragma once
// Holds off shutting the machine down while an uninstallation waits for its
// second stage: a "block" inhibitor of systemd-logind, held for the object's
// life. Where logind does not grant one (no system bus, no permission)
// nothing is held and nothing fails.

#include "platform/UniqueFd.h"

namespace plx::uninst {

class ShutdownBlock {
public:
    ShutdownBlock();
    bool held() const { return static_cast<bool>(fd_); }

private:
    UniqueFd fd_;
};

} // namespace plx::uninst
