#include "uninstaller/ShutdownBlock.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include "uninstaller/Texts.h"

namespace plx::uninst {

namespace {

constexpr std::uint64_t kCallTimeoutUsec = 5'000'000;

struct BusRef {
    sd_bus* bus = nullptr;
    ~BusRef() { sd_bus_flush_close_unref(bus); }
};
struct MessageRef {
    sd_bus_message* message = nullptr;
    ~MessageRef() { sd_bus_message_unref(message); }
};

} // namespace

ShutdownBlock::ShutdownBlock() {
    BusRef bus;
    if (sd_bus_open_system(&bus.bus) < 0) return;
    MessageRef call;
    MessageRef reply;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int fd = -1;
    if (sd_bus_message_new_method_call(bus.bus, &call.message, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit") >= 0 &&
        sd_bus_message_append(call.message, "ssss", "shutdown", "CVUninst", kShutdownReason, "block") >= 0 &&
        sd_bus_call(bus.bus, call.message, kCallTimeoutUsec, &error, &reply.message) >= 0 &&
        sd_bus_message_read(reply.message, "h", &fd) >= 0)
        fd_.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 3)); // the reply owns fd; the copy outlives it
    sd_bus_error_free(&error);
}

} // namespace plx::uninst
