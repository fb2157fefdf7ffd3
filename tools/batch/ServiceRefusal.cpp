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

// The bus error an unreachable status was made from; empty for another status.
std::string_view busErrorOf(const CallStatus& status) {
    static const CallStatus bare = unreachableStatus("");
    static const std::string opening = bare.message + "（";
    constexpr std::string_view closing = "）";
    std::string_view text = status.message;
    if (status.code != bare.code || status.detail != bare.detail || !text.starts_with(opening) ||
        !text.ends_with(closing))
        return {};
    return text.substr(opening.size(), text.size() - opening.size() - closing.size());
}

} // namespace

std::string serviceRefusal(const CallStatus& status) {
    std::string_view error = busErrorOf(status);
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
