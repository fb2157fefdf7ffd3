#include "common/PLException.h"

#include "platform/IniFile.h"

namespace plx {

std::int32_t detailOfCurrentFailure() {
    try {
        throw;
    } catch (const std::system_error& e) {
        return e.code().value();
    } catch (const IniFormatError&) {
        return EINVAL;
    } catch (...) {
        return 0;
    }
}

} // namespace plx
