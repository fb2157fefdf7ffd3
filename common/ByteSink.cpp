#include "common/ByteSink.h"

#include <cerrno>

#include "platform/FdIo.h"

namespace plx {

ByteSink FdSink::sink() {
    return [this](const void* data, std::size_t size) {
        if (writeAll(fd_, data, size)) return true;
        error_ = std::error_code(errno, std::generic_category());
        return false;
    };
}

} // namespace plx
