// Fuzzes what a gateway connection can send: the bytes go through the HTTP
// receive engine over a socket pair, and a complete request goes to the
// gateway message handler, as the server would hand it over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "centerlink/HttpReceiver.h"
#include "centerlink/SoapReader.h"
#include "platform/FdIo.h"
#include "service/classes/Client.h"
#include "service/gateway/CenterNetwork.h"

namespace {

namespace fs = std::filesystem;

std::shared_ptr<plx::Client> client;
std::unique_ptr<plx::CenterNetwork> handler;
std::shared_ptr<const plx::Settings> settings; // as the server reads it for each request
fs::path home;

void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/plxfuzz-XXXXXX";
    home = ::mkdtemp(pattern);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(home, ignored);
    });
    for (const char* folder : {"temp", "apilog", "sessionlog", "scratch"}) fs::create_directory(home / folder);
    ::setenv("PLX_HOME", home.c_str(), 1);
    ::setenv("PLX_RUNTIME_DIR", (home / "run").c_str(), 1);
    ::setenv("TMPDIR", (home / "scratch").c_str(), 1);
    ::setenv("PLX_PLLOG_LIBRARY", "/nonexistent", 1); // no log files from the fuzzer
    write(home / "plconfig.ini",
          "[tempfile]\nlocation=" + (home / "temp").string() + "\n[apilog]\nlocation=" + (home / "apilog").string() +
              "\n[sessionlog]\nlocation=" + (home / "sessionlog").string() + "\n[application]\ncheck=no\n");
    write(home / "plterm.ini",
          "[terminfo]\nterminalid=1001\ncenterid=9001\npassword=pw\ncenterurl=http://127.0.0.1:1/\n");
    write(home / "plfile.ini", "[K001]\ndataname=fuzz\nserviceno=7\nprotocolfilename=PF01\naccesskey=AK0001\n"
                               "recordlength=-1\ncompressid=0\nuserdata=\n");
    plx::initializeXml();
    client = std::make_shared<plx::Client>();
    handler = std::make_unique<plx::CenterNetwork>(client);
    settings = plx::loadSettings();
    handler->beginConnection();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 60000) return 0; // stays within one socket buffer
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
    plx::writeAll(pair[1], data, size);
    ::shutdown(pair[1], SHUT_WR);

    plx::Connection connection{plx::UniqueFd(pair[0])};
    plx::ReceiveOptions options;
    options.firstByteTimeout = 1;
    options.readTimeout = 1;
    plx::ReceivedMessage message = plx::receiveHttpMessage(connection, options);

    if (message.status == plx::ReceiveStatus::Complete) {
        plx::GatewayRequest request;
        request.socket = pair[0];
        request.body = &message.bodyFile;
        request.header = message.headerText;
        request.settings = settings;
        std::string reply;
        (void)handler->respond(request).toText(reply);
    }
    if (!message.bodyFile.empty()) fs::remove(message.bodyFile);
    // The end of the connection, as the server reports it.
    plx::GatewayRequest end;
    end.socket = pair[0];
    end.body = nullptr;
    end.level = 2;
    handler->endConnection(end);
    handler->beginConnection();
    ::close(pair[1]);
    return 0;
}
