#include "tests/batch/ToolFixture.h"

#include <algorithm>
#include <fstream>

namespace plx::test {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> centerArguments(const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--terminal-id", "1001", "--center-id", "9001", "--password", "pw"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string gatewayConfig(int port) {
    return port > 0 ? "[http]\ndaemon=yes\nterminalport=" + std::to_string(port) + "\n" : "";
}

} // namespace

fs::path toolPath(const std::string& program) { return fs::path(PLX_TOOL_DIR) / program; }

ToolTerminal::ToolTerminal(const std::vector<std::string>& centerArgs, int gatewayPort)
    : center(centerArguments(centerArgs)), service(gatewayConfig(gatewayPort)), bus(service.connect()),
      client(std::make_unique<ClientProxy>(*bus)), logEnv_("PLX_LOG_DIR", (logs / "plx").string()) {
    client->PLSetTermInfo("1001", "9001", "", "http://127.0.0.1:" + std::to_string(center.port()) + "/", "pw", "1.0",
                          "", "", "");
}

void ToolTerminal::addKind(const std::string& fileType, const std::string& dataName, const std::string& userData) {
    client->PLSetFileInfo(fileType, dataName, 7, "PF01", "AK0001", -1, 1, userData);
}

namespace {

ProgramRun runTool(const std::string& program, const std::vector<std::string>& args, const fs::path& work) {
    std::vector<std::string> argv{toolPath(program).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCaptured(argv, work);
}

} // namespace

ProgramRun ToolTerminal::run(const std::string& program, const std::vector<std::string>& args) const {
    return runTool(program, args, work.path());
}

NoService::NoService() : busEnv_("PLX_BUS", bus_.address()), logEnv_("PLX_LOG_DIR", logs.path().string()) {}

ProgramRun NoService::run(const std::string& program, const std::vector<std::string>& args) const {
    return runTool(program, args, work.path());
}

std::vector<std::string> ToolTerminal::receivedAtCenter() const {
    std::vector<std::string> out;
    if (!fs::exists(center.store() / "received")) return out;
    for (const auto& e : fs::directory_iterator(center.store() / "received")) out.push_back(readFile(e.path()));
    return out;
}

std::vector<std::string> ToolTerminal::logLines(const std::string& prefix) const {
    // Every daily file of the tool, oldest first: a run may pass midnight.
    std::vector<fs::path> files;
    if (fs::exists(logs / "plx"))
        for (const auto& e : fs::directory_iterator(logs / "plx"))
            if (e.path().filename().string().starts_with(prefix)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const fs::path& file : files) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

} // namespace plx::test
