#pragma once
// A terminal set up to talk to the center simulator: program folder with
// plconfig.ini, plterm.ini and one data kind, a scratch temporary folder,
// and a Transport bound to its own Client.

#include <memory>
#include <string>
#include <vector>

#include "service/classes/Client.h"
#include "service/classes/Transport.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/TestPeers.h"

namespace plx::test {

struct TransferSetup {
    bool tls = false;
    std::string fileType = "K001";
    std::int32_t recordLength = -1;
    std::int32_t compressId = 0;
    std::vector<std::string> centerArgs = {}; // more simulator flags (faults, --deliver, ...)
    std::string termExtra = {};               // more plterm.ini lines (proxy, ...)
};

class TransferFixture {
public:
    explicit TransferFixture(const TransferSetup& setup = {});

    CenterSimulator& center() { return *center_; }
    Transport& transport() { return *transport_; }
    Client& client() { return *client_; }
    const std::shared_ptr<Client>& sharedClient() const { return client_; }
    const std::filesystem::path& home() const { return home_.path(); }
    std::filesystem::path userFolder() const { return home_ / "user"; }
    std::filesystem::path tempFolder() const { return home_ / "temp"; }
    std::filesystem::path apiLogFolder() const { return home_ / "apilog"; }
    std::filesystem::path sessionLogFolder() const { return home_ / "sessionlog"; }
    // The system temporary folder of the test (TMPDIR): empty after every transfer.
    const std::filesystem::path& scratch() const { return scratch_.path(); }
    // Lines of today's API log written by the named method, and session-log
    // lines of one transfer kind ("20" send, "10" receive, "50" registration).
    std::vector<std::string> apiLog(const std::string& method) const;
    std::vector<std::string> sessionLog(const std::string& kind) const;

private:
    ScopedHome home_;
    TempDir scratch_;
    ScopedEnv pllog_;
    std::unique_ptr<ScopedEnv> tmpdir_; // set last: the simulator keeps its files elsewhere
    std::unique_ptr<CenterSimulator> center_;
    std::shared_ptr<Client> client_;
    std::shared_ptr<Transport> transport_;
};

// Partly compressible bytes, the same for the same seed.
std::string sampleData(std::size_t size, unsigned seed = 7);

} // namespace plx::test
