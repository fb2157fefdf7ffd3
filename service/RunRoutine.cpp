#include "service/RunRoutine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

#include "centerlink/CertificateRegistration.h"
#include "centerlink/HttpServer.h"
#include "centerlink/SessionControl.h"
#include "api/BusApi.h"
#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "common/LogRetention.h"
#include "common/Settings.h"
#include "common/TermInfo.h"
#include "platform/BusConnection.h"
#include "platform/SingleInstance.h"
#include "platform/UniqueFd.h"
#include "service/ApiMethod.h"
#include "service/BusServer.h"
#include "service/CenterNetwork.h"
#include "service/Client.h"
#include "service/TransferSupport.h"

namespace plx {

namespace {

// What a message box of the service says goes to the journal (stderr).
void report(const std::string& text) { std::fprintf(stderr, "Korvane/PLX: %s\n", text.c_str()); }

// Wakes the main thread: a close request or a lost bus.
class Wakeup {
public:
    Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC)) {}
    void post() {
        std::uint64_t one = 1;
        (void)!::write(fd_.get(), &one, sizeof one);
    }
    int fd() const { return fd_.get(); }

private:
    UniqueFd fd_;
};

// The close request: answered at once on the bus thread, carried out by
// the main thread, so no bus handler ever waits for running sessions.
class CloseControl {
public:
    CloseControl(bool compulsion, Wakeup& wakeup) : compulsion_(compulsion), wakeup_(wakeup) {}

    bool request(bool confirmed) {
        CountingSemaphore free(kSessionCount, kSessionSemaphoreName);
        free.acquire(kSessionCount, 0);
        bool idle = free.heldCount() == kSessionCount;
        if (!(idle || compulsion_ || !isDialogAppearance() || confirmed)) return false; // the caller asks its user
        closing_ = true;
        wakeup_.post();
        return true;
    }
    bool closing() const { return closing_; }

private:
    bool compulsion_;
    Wakeup& wakeup_;
    std::atomic<bool> closing_{false};
};

// Tells running sessions to stop and gives them up to 5 s per count still held.
void stopSessions() {
    SessionEvent::set();
    CountingSemaphore all(kSessionCount, kSessionSemaphoreName);
    all.acquire(kSessionCount, kSessionWaitMs);
}

UniqueFd stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
}

std::unique_ptr<HttpServer> startGateway(CenterNetwork& handler, const std::shared_ptr<Client>& client) {
    if (isSSLUsed()) {
        // The result is not needed here: a later transfer registers again.
        sslRegist([&](TerminalRec& t) { return !client->PLGetTermInfo(t).failed; });
    }
    auto server = isHttpSSL() ? std::make_unique<HttpServer>(getTerminalPort(), getCertFilePath(), getKeyFilePath())
                              : std::make_unique<HttpServer>(getTerminalPort());
    server->setHandler(&handler);
    if (!server->start()) report("Httpサーバの起動に失敗しました。");
    return server;
}

} // namespace

int runService(bool asService) {
    UniqueFd signals = stopSignals();
    std::signal(SIGPIPE, SIG_IGN);

    auto instance = takeSingleInstanceLock("Korvane/PLX");
    if (!instance) {
        std::fprintf(stderr, "plserv: another instance runs\n");
        return 0;
    }

    bool compulsion = true;
    try {
        compulsion = loadCheckedSettings()->shutdownCompulsion;
    } catch (const ApiError& e) {
        report(e.message);
        return 1;
    }

    deleteExpiredLogs();
    purgeTempFiles();
    std::shared_ptr<Client> client = Client::instance();
    recoverCenterRecords();

    Wakeup wakeup;
    CloseControl closeControl(compulsion, wakeup);
    std::atomic<bool> busLost{false};
    try {
        auto bus = openBus(asService ? BusKind::System : BusKind::Session);
        BusServer server(*bus, client);
        server.setCloseHandler([&](bool confirmed) { return closeControl.request(confirmed); });
        // The name last: callers reach the service only once it is ready.
        bus->requestName(kBusName);
        std::thread busThread([&] {
            try {
                bus->enterEventLoop();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "plserv: bus lost: %s\n", e.what());
                busLost = true;
                wakeup.post();
            }
        });
        if (!asService) std::printf("Service started\n"), std::fflush(stdout);

        CenterNetwork handler(client);
        std::unique_ptr<HttpServer> gateway;
        if (isHttpDaemon()) gateway = startGateway(handler, client);

        pollfd waits[2] = {{signals.get(), POLLIN, 0}, {wakeup.fd(), POLLIN, 0}};
        while (::poll(waits, 2, -1) < 0 && errno == EINTR) {}

        if (!busLost) stopSessions(); // a stop signal closes without asking, as a confirmed close does
        if (gateway) gateway->stop();
        if (!busLost) {
            try {
                bus->releaseName(kBusName);
            } catch (const std::exception&) {
            }
            bus->leaveEventLoop();
        }
        busThread.join();
    } catch (const std::exception& e) {
        report(std::string("bus: ") + e.what());
        return 1;
    }
    return busLost ? 1 : 0;
}

} // namespace plx
