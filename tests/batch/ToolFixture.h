#pragma once
// The tools run as programs against the real service on a private bus and
// the center simulator: a terminal set up for the center, a current folder
// of their own and a log folder of their own.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/service/BusFixture.h"

namespace plx::test {

class ToolTerminal {
public:
    // centerArgs go to the simulator (faults); gatewayPort > 0 opens the
    // service's gateway server on that port.
    explicit ToolTerminal(const std::vector<std::string>& centerArgs = {}, int gatewayPort = 0);

    // A data kind the center knows (service 7, PF01, AK0001).
    void addKind(const std::string& fileType, const std::string& dataName, const std::string& userData = "");
    // Runs a tool of the build in the work folder.
    ProgramRun run(const std::string& program, const std::vector<std::string>& args = {}) const;
    // The files the center received, in any order.
    std::vector<std::string> receivedAtCenter() const;
    // The lines of a tool's daily logs (prefix "PLSendDataCmd_" ...).
    std::vector<std::string> logLines(const std::string& prefix) const;

    CenterSimulator center;
    ServiceOnBus service;
    std::unique_ptr<sdbus::IConnection> bus;
    std::unique_ptr<ClientProxy> client;
    TempDir work; // the tools' current folder
    TempDir logs;

private:
    ScopedEnv logEnv_;
};

// A bus where the service is not: the tools run in a work folder of their own.
class NoService {
public:
    NoService();
    ProgramRun run(const std::string& program, const std::vector<std::string>& args = {}) const;

    TempDir work;
    TempDir logs; // the daily logs, right in it

private:
    PrivateBus bus_;
    ScopedEnv busEnv_;
    ScopedHome home_;
    ScopedEnv logEnv_;
};

// The path of a tool of the build.
std::filesystem::path toolPath(const std::string& program);

} // namespace plx::test
