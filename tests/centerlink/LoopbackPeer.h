#pragma once
// A peer on 127.0.0.1 for the tests: listens on a free port and runs a
// script on each accepted connection in its own thread.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/UniqueFd.h"

namespace plx::test {

class LoopbackPeer {
public:
    using Script = std::function<void(int fd)>;
    // Serves up to maxConnections connections with script.
    explicit LoopbackPeer(Script script, int maxConnections = 1);
    ~LoopbackPeer();
    int port() const { return port_; }
    int accepted() const { return accepted_; }

private:
    int port_ = 0; // set while listener_ is made: declared first
    UniqueFd listener_;
    std::atomic<int> accepted_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A TCP option's value on fd (TCP_NODELAY, TCP_CORK); -1 when it cannot be read.
int tcpOption(int fd, int option);
// This process's socket connected to 127.0.0.1:port, or -1.
int socketConnectedTo(int port);

// Reads until the header block and the announced body have arrived (or the
// peer closes); returns all bytes read.
std::string readHttpMessage(int fd);
void sendText(int fd, const std::string& text);

// A listening socket that never accepts: connections complete in the
// kernel, and nothing is ever answered.
class SilentListener {
public:
    SilentListener();
    int port() const { return port_; }

private:
    int port_ = 0;
    UniqueFd listener_;
};

} // namespace plx::test
