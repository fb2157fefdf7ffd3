#pragma once
// Real peers started by the tests: the center simulator (a separate
// Python process) and tinyproxy.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/UniqueFd.h"
#include "tests/TestSupport.h"

namespace plx::test {

// A peer process (PATH is searched), asked to stop with SIGTERM when the
// object goes and killed when it does not within 2 seconds. The seconds the
// waits take are those of a quiet machine, stretched by timeFactor().
class PeerProcess {
public:
    // With captureStderr, standard error goes to the same pipe as standard output.
    explicit PeerProcess(const std::vector<std::string>& argv, bool captureStdout = false, bool captureStderr = false);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    // One line of the child's standard output (waits at most seconds).
    std::string readLine(int seconds);
    // Everything the child writes until it closes its output (waits at most seconds).
    std::string readAll(int seconds);
    int pid() const { return pid_; }
    // The exit status once the child ended within seconds; -1 when it still runs.
    int waitExit(int seconds);

private:
    plx::ChildProcess process_;
    int pid_ = -1;
    int out_ = -1;
};

class CenterSimulator {
public:
    // extraArgs are passed on (for example "--tls", "--fault", "slow").
    explicit CenterSimulator(const std::vector<std::string>& extraArgs = {});
    int port() const { return port_; }
    int controlPort() const { return controlPort_; }
    // The simulator's test CA (with --tls): it signs the terminal's certificate.
    const std::string& caCertificate() const { return caCert_; }
    const std::filesystem::path& store() const { return store_.path(); }
    // The simulator's record of conversations (GET /_log), as JSON text.
    std::string log() const;

private:
    TempDir store_;
    std::unique_ptr<PeerProcess> process_;
    int port_ = 0;
    int controlPort_ = 0;
    std::string caCert_;
};

class TinyProxy {
public:
    // With user and password set the proxy asks for Basic credentials.
    TinyProxy(const std::string& user = {}, const std::string& password = {});
    int port() const { return port_; }

private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<PeerProcess> process_;
};

int freeLoopbackPort();
// A socket connected to 127.0.0.1:port; closed when the connect fails.
UniqueFd connectLoopback(int port);
// True once port takes connections, within seconds stretched by timeFactor().
bool waitForPort(int port, int seconds);
std::string httpGet(int port, const std::string& target);

} // namespace plx::test
