// plserv: serves the API on the bus until it is told to stop.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "common/BusRecords.h"
#include "platform/BusConnection.h"
#include "service/BusServer.h"
#include "service/Client.h"

int main() {
    using namespace plx;
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    // Every thread inherits the mask; the main thread alone takes the signals.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        auto connection = openBus(BusKind::Session);
        BusServer server(*connection, Client::instance());
        connection->requestName(kBusName);
        // The bus thread is ours, so losing the bus ends the service in order
        // instead of terminating it from inside the library.
        std::atomic<bool> busLost{false};
        std::thread busThread([&] {
            try {
                connection->enterEventLoop();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "plserv: bus lost: %s\n", e.what());
                busLost = true;
                ::kill(::getpid(), SIGTERM);
            }
        });
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!busLost) {
            try {
                connection->releaseName(kBusName);
            } catch (const std::exception&) {
            }
            connection->leaveEventLoop();
        }
        busThread.join();
        if (busLost) return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plserv: %s\n", e.what());
        return 1;
    }
    return 0;
}
