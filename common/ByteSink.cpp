#include "common/ByteSink.h"

#include <cerrno>

#include "platform/FdIo.h"

namespace plx {

ByteSink fdSink(int fd, int& error) {
    return [fd, &error](const void* data, std::size_t size) {
        if (writeAll(fd, data, size)) return true;
        error = errno;
        return false;
    };
}

} // namespace plx
