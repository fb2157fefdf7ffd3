// killplx: ends a running service (before an update or removal) with the
// close request a user's close would send, asking again every 100 ms for
// 50 rounds while it refuses. The service refuses while transfer sessions
// run unless its settings make closing compulsory, so the rounds give
// running sessions about 5 seconds. A hung service cannot hold it longer
// than kWholeRun: each answer is awaited a few seconds, and no round starts
// after that time. Exit code 0 whether the service went or stayed; a service
// that stays is reported on standard error. It takes no arguments: any ends
// it with 2 before the service is asked anything.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/CommandUsage.h"
#include "tools/setup/ServiceBuses.h"

using namespace plx;

namespace {

constexpr int kRounds = 50;
constexpr std::chrono::milliseconds kRoundPause{100};
// The service answers once running sessions have been told to stop; one
// that stays silent longer is hung, and the request counts as refused.
constexpr std::chrono::milliseconds kCloseAnswerWait{3000};
constexpr std::chrono::milliseconds kWholeRun{20000};

} // namespace

int main(int argc, char** argv) {
    if (auto line = commandOperands(argc, argv, "使用法: killplx"); line.exitCode) return *line.exitCode;
    ServiceBuses buses;
    if (!buses.anyBus()) {
        for (const std::string& error : buses.openErrors()) std::fprintf(stderr, "killplx: %s\n", error.c_str());
        return 0;
    }
    std::string lastError;
    auto end = std::chrono::steady_clock::now() + kWholeRun;
    for (int round = 0; round < kRounds && std::chrono::steady_clock::now() < end; ++round) {
        // A bus that cannot say who owns the name is no sign the service went.
        auto owner = buses.findService(lastError);
        if (!owner && lastError.empty()) return 0;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (owner)
            buses.requestClose(*owner, std::clamp(left, std::chrono::milliseconds(1), kCloseAnswerWait), lastError);
        std::this_thread::sleep_for(kRoundPause);
    }
    // The last request may have been the one that closed it.
    std::string findError;
    if (!buses.findService(findError) && findError.empty()) return 0;
    if (!findError.empty()) lastError = findError;
    if (!lastError.empty()) std::fprintf(stderr, "killplx: %s\n", lastError.c_str());
    std::fputs("アプリケーションの終了に失敗しました。\n", stderr);
    return 0;
}
