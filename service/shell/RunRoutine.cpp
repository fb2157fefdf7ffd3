#include "service/shell/RunRoutine.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "api/BusApi.h"
#include "centerlink/CertificateRegistration.h"
#include "centerlink/HttpServer.h"
#include "centerlink/SessionControl.h"
#include "common/CenterRegister.h"
#include "common/FileControl.h"
#include "common/LogRetention.h"
#include "common/Settings.h"
#include "common/TermInfo.h"
#include "platform/BusConnection.h"
#include "platform/IniFile.h"
#include "platform/LinkJournal.h"
#include "platform/ProgramFolder.h"
#include "platform/SingleInstance.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"
#include "service/classes/ApiMethod.h"
#include "service/classes/Client.h"
#include "service/classes/TransferSupport.h"
#include "service/gateway/CenterNetwork.h"
#include "service/shell/BusServer.h"
#include "service/shell/SystemFiles.h"

namespace plx {

namespace {

namespace fs = std::filesystem;

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
// the main thread, so no bus handler ever waits for running sessions. The
// counts that were free when the close was decided stay held from then on,
// so no session starts between the decision and the stop.
class CloseControl {
public:
    CloseControl(bool compulsion, Wakeup& wakeup) : compulsion_(compulsion), wakeup_(wakeup) {}

    bool request(bool confirmed) {
        auto free = std::make_unique<CountingSemaphore>(kSessionCount, kSessionSemaphoreName);
        free->acquire(kSessionCount, 0);
        bool idle = free->heldCount() == kSessionCount;
        if (!(idle || compulsion_ || !isDialogAppearance() || confirmed)) return false; // the caller asks its user
        {
            std::lock_guard lock(mutex_);
            if (!hold_) hold_ = std::move(free);
        }
        wakeup_.post();
        return true;
    }
    // The hold of the decided close; a stop signal decides here and now.
    std::unique_ptr<CountingSemaphore> takeHold() {
        std::lock_guard lock(mutex_);
        if (!hold_) {
            hold_ = std::make_unique<CountingSemaphore>(kSessionCount, kSessionSemaphoreName);
            hold_->acquire(kSessionCount, 0);
        }
        return std::move(hold_);
    }

private:
    bool compulsion_;
    Wakeup& wakeup_;
    std::mutex mutex_;
    std::unique_ptr<CountingSemaphore> hold_;
};

// Tells running sessions to stop and gives them up to 5 s per count still
// held, on the hold that already has the free counts. True when all ended.
bool stopSessions(CountingSemaphore& hold) {
    SessionEvent::set();
    return hold.acquire(kSessionCount, kSessionWaitMs);
}

UniqueFd stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
}

// The start's certificate registration runs on the main thread before it
// waits for a close or a stop signal: meanwhile this thread tells the
// exchange to stop when one comes (left for the main thread to read).
class StartWatch {
public:
    StartWatch(int signals, int wakeup) {
        thread_ = std::thread([this, signals, wakeup] {
            pollfd waits[3] = {{signals, POLLIN, 0}, {wakeup, POLLIN, 0}, {done_.fd(), POLLIN, 0}};
            while (::poll(waits, 3, -1) < 0 && errno == EINTR) {
            }
            if (!(waits[2].revents & POLLIN)) SessionEvent::set();
        });
    }
    ~StartWatch() {
        done_.post();
        thread_.join();
    }
    StartWatch(const StartWatch&) = delete;
    StartWatch& operator=(const StartWatch&) = delete;

private:
    Wakeup done_;
    std::thread thread_;
};

std::unique_ptr<HttpServer> startGateway(CenterNetwork& handler, const std::shared_ptr<Client>& client) {
    if (auto route = readCenterRoute(); isSSLUsed(route)) {
        try {
            sslRegist([&](TerminalRec& t) { return !client->PLGetTermInfo(t).failed; }, route);
        } catch (const RegistrationFailure&) {
            // Not needed here: a later transfer registers again.
        }
    }
    std::unique_ptr<HttpServer> server;
    if (isHttpSSL()) {
        CertificateFiles files = configuredCertificateFiles();
        server = std::make_unique<HttpServer>(getTerminalPort(), files.cert, files.key);
    } else {
        server = std::make_unique<HttpServer>(getTerminalPort());
    }
    server->setHandler(&handler);
    if (!server->start()) report("Httpサーバの起動に失敗しました。");
    return server;
}

// The bus's event loop on a thread of its own, left and joined on every way
// out of the run.
class BusLoop {
public:
    BusLoop(sdbus::IConnection& bus, Wakeup& wakeup) : bus_(bus) {
        thread_ = std::thread([this, &wakeup] {
            try {
                bus_.enterEventLoop();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "plserv: bus lost: %s\n", e.what());
                lost_ = true;
                wakeup.post();
            }
        });
    }
    ~BusLoop() { leave(); }
    BusLoop(const BusLoop&) = delete;
    BusLoop& operator=(const BusLoop&) = delete;

    bool lost() const { return lost_; }
    void leave() {
        if (!thread_.joinable()) return;
        if (!lost_) {
            try {
                bus_.releaseName(kBusName);
            } catch (const std::exception&) {
            }
            bus_.leaveEventLoop();
        }
        thread_.join();
    }

private:
    sdbus::IConnection& bus_;
    std::atomic<bool> lost_{false};
    std::thread thread_;
};

// Runs until a close, a stop signal or the loss of the bus; the exit status.
int serve(bool asService, const UniqueFd& signals, bool compulsion, const std::shared_ptr<Client>& client) {
    Wakeup wakeup;
    CloseControl closeControl(compulsion, wakeup);
    try {
        auto bus = openBus(asService ? BusKind::System : BusKind::Session);
        BusServer server(*bus, client);
        server.setCloseHandler([&](bool confirmed) { return closeControl.request(confirmed); });
        // The name last: callers reach the service only once it is ready.
        bus->requestName(kBusName);
        BusLoop loop(*bus, wakeup);
        if (!asService) std::printf("Service started\n"), std::fflush(stdout);

        CenterNetwork handler(client);
        std::unique_ptr<HttpServer> gateway;
        if (isHttpDaemon()) {
            StartWatch watch(signals.get(), wakeup.fd());
            gateway = startGateway(handler, client);
        }

        pollfd waits[2] = {{signals.get(), POLLIN, 0}, {wakeup.fd(), POLLIN, 0}};
        while (::poll(waits, 2, -1) < 0 && errno == EINTR) {
        }

        // A stop signal closes without asking, as a confirmed close does.
        std::unique_ptr<CountingSemaphore> hold = closeControl.takeHold();
        bool sessionsEnded = stopSessions(*hold);
        if (gateway) gateway->stop();
        loop.leave();
        int status = loop.lost() ? 1 : 0;
        if (!sessionsEnded) {
            // A session that did not stop in time must not hold the process:
            // its register entry is repaired at the next start.
            std::fprintf(stderr, "plserv: sessions still running; ending without them\n");
            std::fflush(nullptr);
            std::_Exit(status);
        }
        return status;
    } catch (const std::exception& e) {
        report(std::string("bus: ") + e.what());
        return 1;
    }
}

// What a run that was cut off left behind: scratch files, staged or
// delivered copies that never made it into the register, and the names a
// file held for the moment of its replace (ini files, callers' files).
void removeLeftovers(const Settings& settings) {
    LinkRecord::useFolder(programFolder() / ".plxlinks");
    try {
        LinkRecord::removeLeftovers();
    } catch (const std::system_error& e) {
        report(e.what()); // the start goes on without touching it
    }
    purgeTempFiles();
    std::error_code ec;
    if (!fs::equivalent(systemTempFolder(), settings.tempFolder, ec)) purgeTempFiles(settings.tempFolder);
}

} // namespace

int runService(bool asService) {
    // On the system bus every local user with the policy's leave reaches the
    // service, which acts on the files they name: root's rights are never
    // lent that way.
    if (::geteuid() == 0 && isSystemBus(busChoice(asService ? BusKind::System : BusKind::Session))) {
        std::fprintf(stderr,
                     "plserv: refusing to run as root on the system bus; start it as the account %s "
                     "(systemctl start plserv)\n",
                     kServiceAccount);
        return 1;
    }
    // Every failure of the start is reported with its text and ends the
    // process with a non-zero status.
    try {
        UniqueFd signals = stopSignals();
        std::signal(SIGPIPE, SIG_IGN);

        auto instance = takeSingleInstanceLock("Korvane/PLX");
        if (!instance) {
            std::fprintf(stderr, "plserv: another instance runs\n");
            return 0;
        }

        bool compulsion = true;
        std::shared_ptr<Client> client;
        try {
            auto settings = loadCheckedSettings();
            compulsion = settings->shutdownCompulsion;
            deleteExpiredLogs(*settings);
            client = Client::instance();
            recoverCenterRecords();
            removeLeftovers(*settings);
        } catch (const PLException& e) {
            report(e.message());
            return 1;
        }
        return serve(asService, signals, compulsion, client);
    } catch (const std::exception& e) {
        report(e.what());
        return 1;
    } catch (...) {
        report("原因不明のエラー");
        return 1;
    }
}

} // namespace plx
