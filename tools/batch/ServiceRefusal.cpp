#include "tools/batch/ServiceRefusal.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "api/BusApi.h"

namespace plx {

namespace {

// What the bus answers when nobody owns the name, starting the service on
// demand failed, or no bus daemon listens at all.
constexpr std::array<std::string_view, 6> kNotRunning{"org.freedesktop.DBus.Error.ServiceUnknown",
                                                      "org.freedesktop.DBus.Error.NameHasNoOwner",
                                                      "org.freedesktop.DBus.Error.Spawn.",
                                                      "org.freedesktop.DBus.Error.FileNotFound",
                                                      "System.Error.ECONNREFUSED",
                                                      "System.Error.ENOENT"};
constexpr std::string_view kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";

} // namespace

std::string serviceRefusal(const CallStatus& status) {
    std::string_view error = status.busError;
    if (error.empty()) return {};
    if (error == kAccessDenied)
        return std::string("サービスを使う権限がありません（使えるのは root とグループ ") + kOperatorsGroup +
               " のメンバーです）";
    for (std::string_view name : kNotRunning)
        if (error.starts_with(name)) return "サービスが起動していません";
    return {};
}

void tellServiceRefusal(const char* program, const CallStatus& status) {
    if (std::string why = serviceRefusal(status); !why.empty()) std::fprintf(stderr, "%s: %s\n", program, why.c_str());
}

} // namespace plx
