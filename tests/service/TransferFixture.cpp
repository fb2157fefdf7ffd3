#include "tests/service/TransferFixture.h"

#include <fstream>
#include <random>

#include "common/DateText.h"

namespace plx::test {

namespace {

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::vector<std::string> out;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string today() { return formatDate(localNow().value_or(LocalDateTime{})); }

} // namespace

TransferFixture::TransferFixture(const TransferSetup& setup)
    : pllog_("PLX_PLLOG_LIBRARY", std::string(PLX_PLLOG_PATH)) {
    for (auto folder : {userFolder(), tempFolder(), apiLogFolder(), sessionLogFolder()})
        std::filesystem::create_directory(folder);
    writeFile(home_ / "plconfig.ini",
              "[tempfile]\nlocation=" + tempFolder().string() + "\n[apilog]\nlocation=" + apiLogFolder().string() +
                  "\n[sessionlog]\nlocation=" + sessionLogFolder().string() + "\n[duplication]\npermission=no\n");
    writeFile(home_ / "pltimeout.ini", "[timeout]\nauth=10\nfile=30\nreport=10\ntcp=10\nconnect=5\nregist=10\n");

    std::vector<std::string> args = {"--terminal-id", "1001", "--center-id", "9001",
                                     "--password",    "pw",   "--kind",      "PF01,AK0001,7"};
    if (setup.tls) args.push_back("--tls");
    args.insert(args.end(), setup.centerArgs.begin(), setup.centerArgs.end());
    center_ = std::make_unique<CenterSimulator>(args);

    client_ = std::make_shared<Client>();
    std::string scheme = setup.tls ? "https" : "http";
    if (!client_->PLSetTermInfo("1001", "9001", "center",
                                scheme + "://127.0.0.1:" + std::to_string(center_->port()) + "/", "pw", "1.0", "", "",
                                ""))
        throw std::runtime_error("terminal information not stored");
    if (!setup.termExtra.empty()) {
        std::ofstream(home_ / "plterm.ini", std::ios::app) << setup.termExtra;
    }
    if (!client_->PLSetFileInfo(setup.fileType, "テスト", 7, "PF01", "AK0001", setup.recordLength, setup.compressId,
                                ""))
        throw std::runtime_error("data kind not stored");
    transport_ = std::make_shared<Transport>(client_);
    tmpdir_ = std::make_unique<ScopedEnv>("TMPDIR", scratch_.path().string());
}

std::vector<std::string> TransferFixture::apiLog(const std::string& method) const {
    std::vector<std::string> out;
    for (const auto& line : lines(apiLogFolder() / ("plapi" + today() + ".log"))) {
        auto fields = splitFields(line);
        if (fields.size() > 5 && fields[5] == method) out.push_back(line);
    }
    return out;
}

std::vector<std::string> TransferFixture::sessionLog(const std::string& kind) const {
    std::vector<std::string> out;
    for (const auto& line : lines(sessionLogFolder() / ("plsession" + today() + ".log"))) {
        auto fields = splitFields(line);
        if (fields.size() > 3 && fields[3] == kind) out.push_back(line);
    }
    return out;
}

std::string sampleData(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen() % 4 == 0 ? gen() : 'a' + gen() % 3);
    return s;
}

} // namespace plx::test
