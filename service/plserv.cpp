// plserv: serves the API on the bus until it is told to stop.
#include <csignal>
#include <cstdio>
#include <pthread.h>

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
        connection->enterEventLoopAsync();
        int signal = 0;
        sigwait(&stopSignals, &signal);
        connection->releaseName(kBusName);
        connection->leaveEventLoop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plserv: %s\n", e.what());
        return 1;
    }
    return 0;
}
