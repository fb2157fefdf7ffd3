#pragma once
// What every window of the desktop client works with: the program-wide
// state of the start-up load, the desktop's boxes and choosers, and the
// clock the date checks read.

#include <functional>

#include "client/StartupLoad.h"
#include "client/pelorin/UiServices.h"
#include "platform/FileTime.h"

namespace plx::pelorin {

struct PelorinContext {
    AppState& state;
    UiServices& ui;
    std::function<LocalDateTime()> clock;

    LocalDateTime now() const;
};

} // namespace plx::pelorin
