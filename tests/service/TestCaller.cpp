// A caller of the service for the tests that need one of another uid: one
// Transport method per run, its triple and result on one line:
//   "<code> <detail> <result or LastErrorMsg>"
//
//   plx_test_caller send FILETYPE FOLDER FILE
//   plx_test_caller set FILETYPE FOLDER FILE LIMITDAY SETOPTION
//   plx_test_caller recv FILETYPE FOLDER FILE RESENDFLAG
//   plx_test_caller geta FILETYPE TEMPNAME FOLDER FILE CREATEFLAG
//   plx_test_caller get FILETYPE FOLDER FILE GETOPTION
//   plx_test_caller send-dropping-groups FILETYPE FOLDER FILE
//     (sends, drops its supplementary groups, sends again: two lines)
//   plx_test_caller send-as UID GID FILETYPE FOLDER FILE
//     (becomes UID and GID after its first call, then sends)
#include <cstdio>
#include <grp.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "client/ServiceApi.h"

using namespace plx;

namespace {

template <typename T>
int print(const CallResult<T>& r, const std::string& value) {
    std::printf("%d %d %s\n", r.status.code, r.status.detail, r.status.ok() ? value.c_str() : r.status.message.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    ServiceBus bus;
    auto created = bus.createTransport().wait();
    if (!created.status.ok() || a.empty()) return print(created, "");
    RemoteTransport& t = *created.value;
    auto n = [&](std::size_t i) { return static_cast<std::int32_t>(std::stol(a.at(i))); };
    const std::string& m = a[0];
    if (m == "send" && a.size() == 4) return print(t.PLSendData(a[1], a[2], a[3]).wait(), "");
    if (m == "send-dropping-groups" && a.size() == 4) {
        print(t.PLSendData(a[1], a[2], a[3]).wait(), "");
        std::fflush(stdout);
        if (::setgroups(0, nullptr) != 0) {
            std::perror("setgroups");
            return 1;
        }
        return print(t.PLSendData(a[1], a[2], a[3]).wait(), "");
    }
    if (m == "send-as" && a.size() == 6) {
        auto uid = static_cast<uid_t>(n(1));
        auto gid = static_cast<gid_t>(n(2));
        if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
            std::perror("becoming another user");
            return 1;
        }
        return print(t.PLSendData(a[3], a[4], a[5]).wait(), "");
    }
    if (m == "set" && a.size() == 6) {
        auto r = t.PLSetData(a[1], a[2], a[3], n(4), n(5)).wait();
        return print(r, r.value);
    }
    if (m == "recv" && a.size() == 5) {
        auto r = t.PLRecvData(a[1], a[2], a[3], n(4)).wait();
        return print(r, r.value.fileName);
    }
    if (m == "geta" && a.size() == 6) {
        auto r = t.PLGetDataA(a[1], a[2], a[3], a[4], n(5)).wait();
        return print(r, r.value);
    }
    if (m == "get" && a.size() == 5) {
        auto r = t.PLGetData(a[1], "", "", "", 0, 0, n(4), a[2], a[3]).wait();
        return print(r, std::to_string(r.value));
    }
    std::fprintf(stderr, "unknown call\n");
    return 2;
}
