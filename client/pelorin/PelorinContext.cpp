#include "client/pelorin/PelorinContext.h"

namespace plx::pelorin {

LocalDateTime PelorinContext::now() const {
    if (clock) return clock();
    return localNow().value_or(LocalDateTime{});
}

} // namespace plx::pelorin
