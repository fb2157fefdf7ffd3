#include "tests/centerlink/TestPeers.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "platform/FdIo.h"
#include "platform/UniqueFd.h"
#include "tests/centerlink/LoopbackPeer.h"

namespace plx::test {

namespace {

std::string jsonString(const std::string& json, const std::string& key) {
    auto at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return {};
    auto open = json.find('"', json.find(':', at) + 1);
    auto close = json.find('"', open + 1);
    if (open == std::string::npos || close == std::string::npos) return {};
    return json.substr(open + 1, close - open - 1);
}

int jsonInt(const std::string& json, const std::string& key) {
    auto at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return 0;
    at = json.find(':', at);
    return std::atoi(json.c_str() + at + 1);
}

} // namespace

UniqueFd connectLoopback(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) fd.reset();
    return fd;
}

namespace {

ChildOptions peerOptions(bool captureStdout, bool captureStderr) {
    ChildOptions options{.searchPath = true};
    if (captureStdout || captureStderr) options.output = ChildStream::pipe();
    if (captureStderr) options.errors = ChildStream::pipe();
    return options;
}

} // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& argv, bool captureStdout, bool captureStderr)
    : process_(argv, peerOptions(captureStdout, captureStderr)), pid_(process_.pid()), out_(process_.output()) {}

PeerProcess::~PeerProcess() { process_.terminate(std::chrono::seconds(2)); }

int PeerProcess::waitExit(int seconds) {
    auto status = process_.waitFor(scaled(std::chrono::seconds(seconds)));
    if (!status) return -1;
    pid_ = -1;
    return exitCodeOf(*status);
}

std::string PeerProcess::readLine(int seconds) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + scaled(std::chrono::seconds(seconds));
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c;
        if (::read(out_, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return line;
}

std::string PeerProcess::readAll(int seconds) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + scaled(std::chrono::seconds(seconds));
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

CenterSimulator::CenterSimulator(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {"python3",
                                     std::string(PLX_SOURCE_DIR) + "/tests/center/center_sim.py",
                                     "--port",
                                     "0",
                                     "--store",
                                     store_.path().string(),
                                     "--exit-with-parent",
                                     "--quiet"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<PeerProcess>(argv, true);
    std::string line = process_->readLine(30);
    port_ = jsonInt(line, "port");
    controlPort_ = jsonInt(line, "control_port");
    caCert_ = jsonString(line, "ca_cert");
    if (port_ == 0) throw std::runtime_error("center simulator did not start: " + line);
}

std::string CenterSimulator::log() const { return httpGet(controlPort_, "/_log"); }

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    port_ = freeLoopbackPort();
    std::string config = "Port " + std::to_string(port_) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\nDisableViaHeader Yes\n"
                         "LogLevel Critical\n";
    if (!user.empty()) config += "BasicAuth " + user + " " + password + "\n";
    writeFile(dir_ / "tinyproxy.conf", config);
    process_ = std::make_unique<PeerProcess>(
        std::vector<std::string>{"tinyproxy", "-d", "-c", (dir_ / "tinyproxy.conf").string()});
    if (!waitForPort(port_, 10)) throw std::runtime_error("tinyproxy did not start");
}

int freeLoopbackPort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 0;
    socklen_t len = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

bool waitForPort(int port, int seconds) {
    return waitFor([port] { return static_cast<bool>(connectLoopback(port)); }, scaled(std::chrono::seconds(seconds)));
}

std::string httpGet(int port, const std::string& target) {
    UniqueFd fd = connectLoopback(port);
    if (!fd) return {};
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    sendText(fd.get(), request);
    std::string reply;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0) reply.append(buffer, static_cast<std::size_t>(n));
    auto body = reply.find("\r\n\r\n");
    return body == std::string::npos ? reply : reply.substr(body + 4);
}

} // namespace plx::test
