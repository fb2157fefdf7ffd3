// The HTTP client, the framing and the SOAP writers against the center
// simulator, directly and through tinyproxy, over HTTP and HTTPS.
#include <gtest/gtest.h>
#include <random>
#include <regex>

#include "centerlink/HttpClient.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SoapMessages.h"
#include "common/Base64.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/Gzip.h"
#include "platform/TempFile.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/centerlink/TestPeers.h"

using namespace plx;
using test::CenterSimulator;
using test::readFile;
using test::ScopedHome;
using test::TinyProxy;
using test::writeFile;

namespace {

const std::vector<std::string> kCenterArgs = {"--terminal-id", "T0001", "--center-id", "C0001",
                                              "--password",    "pw",    "--kind",      "PF01,AK0001,7"};

std::string resultCode(const std::string& body) {
    std::smatch m;
    return std::regex_search(body, m, std::regex("<ResultCode>([^<]*)</ResultCode>")) ? m[1].str() : "none";
}

std::string randomBytes(std::size_t size) {
    std::mt19937 gen(42);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen() % 7 == 0 ? gen() : 'a' + gen() % 4); // partly compressible
    return s;
}

// One conversation of the terminal with the center, as the transfers hold it.
class Conversation {
public:
    Conversation(const ScopedHome& home, const std::string& centerUrl, const std::string& termExtra = "") {
        writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=" + centerUrl + "\n" + termExtra);
        route_ = readCenterRoute().value();
        client_.setReadTimeout(30);
        client_.setConnectTimeout(10);
        client_.setFirstByteTimeout(30);
    }

    HttpOutcome connect() { return client_.Connect(route_); }
    HttpClient& client() { return client_; }

    // Posts one message to path; returns the reply body text ("" on failure).
    std::string post(const std::string& path, const std::function<void(XmlWriter&)>& write) {
        std::filesystem::path reply = keepReply(path, write);
        if (reply.empty()) return "";
        ScopedFileRemoval replyFile(reply);
        return readFile(reply);
    }

    // The reply body file (the caller removes it); empty on failure.
    std::filesystem::path keepReply(const std::string& path, const std::function<void(XmlWriter&)>& write) {
        OutgoingMessage body;
        XmlWriter writer;
        writer.open(body);
        write(writer);
        writer.close();
        HttpMessage request;
        if (!session_.empty()) request.addHeader("Cookie", std::string(kCookieName) + "=" + session_);
        request.setMethod("POST");
        request.setRequestTarget(path, route_);
        std::string header;
        std::filesystem::path reply;
        result_ = client_.Write(request.request(std::move(body)), header, reply).phase;
        if (result_ != HttpOutcome::kDone) return {};
        if (auto cookie = HttpMessage(header).getCookie()) session_ = cookieSessionValue(*cookie);
        return reply;
    }

    SoapHeader header() const { return SoapHeader{getNowTimeText(), "T0001", "C0001", "", true}; }
    AuthenticationRequest authentication() const {
        AuthenticationRequest r;
        r.header = header();
        r.password = "pw";
        r.protocolVersion = "1.0";
        r.serviceNo = "7";
        r.protocolFileName = "PF01";
        r.accessKey = "AK0001";
        r.resendFlag = "0";
        return r;
    }
    const std::string& session() const { return session_; }
    int lastResult() const { return result_; }

private:
    CenterRoute route_;
    HttpClient client_;
    std::string session_;
    int result_ = -1;
};

// Sends data as the terminal's send does: authentication, PutFile, report.
void sendThrough(Conversation& c, const std::string& data, bool compress, test::TempDir& scratch) {
    HttpOutcome connected = c.connect();
    ASSERT_TRUE(connected) << "error " << connected.error;
    std::string auth = c.post("/putfile", [&](XmlWriter& w) { writeRequestAuthentication(w, c.authentication()); });
    ASSERT_EQ(resultCode(auth), "0") << auth;
    ASSERT_FALSE(c.session().empty());

    writeFile(scratch / "plain", data);
    std::filesystem::path body = scratch / "plain";
    if (compress) {
        ASSERT_TRUE(gzipFile(body, scratch / "plain.gz"));
        body = scratch / "plain.gz";
    }
    ASSERT_TRUE(encodeFileBase64(body, scratch / "entity"));
    std::string entity = readFile(scratch / "entity");
    FileElement file{std::to_string(data.size()),
                     "1",
                     std::to_string(data.size()),
                     "1",
                     compress ? "1" : "0",
                     getFileMD5(scratch / "plain"),
                     {entity.size(), [&](const ByteSink& sink) { return sink(entity.data(), entity.size()); }}};
    std::string put = c.post("/putfile", [&](XmlWriter& w) { writePutFile(w, "0", c.header(), file); });
    ASSERT_EQ(resultCode(put), "0") << put;
    std::string report = c.post("/putfile", [&](XmlWriter& w) { writeReportStatus(w, "0", c.header()); });
    ASSERT_EQ(resultCode(report), "0") << report;
}

std::string receivedFile(const CenterSimulator& center) {
    for (const auto& e : std::filesystem::directory_iterator(center.store() / "received")) return readFile(e.path());
    return "";
}

} // namespace

TEST(CenterConversation, SendOverHttpWithAndWithoutGzip) {
    for (bool compress : {false, true}) {
        CenterSimulator center(kCenterArgs);
        ScopedHome home;
        test::TempDir scratch;
        Conversation c(home, "http://127.0.0.1:" + std::to_string(center.port()) + "/");
        std::string data = randomBytes(300000);
        sendThrough(c, data, compress, scratch);
        EXPECT_EQ(receivedFile(center), data) << "compress " << compress;
    }
}

TEST(CenterConversation, SendOverHttps) {
    std::vector<std::string> args = kCenterArgs;
    args.push_back("--tls");
    CenterSimulator center(args);
    ScopedHome home;
    test::TempDir scratch;
    Conversation c(home, "https://127.0.0.1:" + std::to_string(center.port()) + "/");
    std::string data = randomBytes(100000);
    sendThrough(c, data, true, scratch);
    EXPECT_EQ(receivedFile(center), data);
}

TEST(CenterConversation, ReceiveExtractsAndChecksTheBody) {
    test::TempDir scratch;
    std::string data = randomBytes(250000);
    writeFile(scratch / "deliver.dat", data);
    std::vector<std::string> args = kCenterArgs;
    args.insert(args.end(), {"--tls", "--compress", "1", "--deliver", (scratch / "deliver.dat").string()});
    CenterSimulator center(args);
    ScopedHome home;
    Conversation c(home, "https://127.0.0.1:" + std::to_string(center.port()) + "/");
    ASSERT_TRUE(c.connect());
    std::string auth = c.post("/getfile", [&](XmlWriter& w) { writeRequestAuthentication(w, c.authentication()); });
    ASSERT_EQ(resultCode(auth), "0") << auth;

    std::filesystem::path reply = c.keepReply("/getfile", [&](XmlWriter& w) { writeGetFile(w, "0", c.header()); });
    ASSERT_FALSE(reply.empty());
    ScopedFileRemoval removeReply(reply);
    std::string message = readFile(reply);
    EXPECT_EQ(resultCode(message), "0");
    auto from = message.find("<Entity>");
    auto to = message.find("</Entity>");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
    writeFile(scratch / "entity.b64", message.substr(from + 8, to - from - 8));
    ASSERT_TRUE(decodeFileBase64(scratch / "entity.b64", scratch / "entity.gz"));
    ASSERT_TRUE(gunzipFile(scratch / "entity.gz", scratch / "restored", data.size()));
    EXPECT_EQ(readFile(scratch / "restored"), data);
    EXPECT_NE(message.find("<MD5>" + getFileMD5(scratch / "restored") + "</MD5>"), std::string::npos);
    std::string report = c.post("/getfile", [&](XmlWriter& w) { writeReportStatus(w, "0", c.header()); });
    EXPECT_EQ(resultCode(report), "0");
}

TEST(CenterConversation, FailureCodesComeBackInTheReply) {
    std::vector<std::string> args = kCenterArgs;
    CenterSimulator center(args);
    ScopedHome home;
    Conversation c(home, "http://127.0.0.1:" + std::to_string(center.port()) + "/");
    ASSERT_TRUE(c.connect());
    AuthenticationRequest wrong = c.authentication();
    wrong.password = "bad";
    std::string auth = c.post("/putfile", [&](XmlWriter& w) { writeRequestAuthentication(w, wrong); });
    EXPECT_EQ(resultCode(auth), "15");
}

TEST(CenterConversation, HttpsThroughAProxyTunnelWithCredentials) {
    std::vector<std::string> args = kCenterArgs;
    args.push_back("--tls");
    CenterSimulator center(args);
    TinyProxy proxy("user", "secret");
    ScopedHome home;
    test::TempDir scratch;
    // The first CONNECT goes without credentials, is refused with 407 and
    // is asked again with them.
    Conversation c(home, "https://127.0.0.1:" + std::to_string(center.port()) + "/",
                   "proxyserver=127.0.0.1:" + std::to_string(proxy.port()) +
                       "\nproxyuser=user\nproxypassword=secret\nproxykeepalive=yes\n");
    std::string data = randomBytes(50000);
    sendThrough(c, data, false, scratch);
    EXPECT_EQ(receivedFile(center), data);
}

TEST(CenterConversation, PlainHttpThroughAProxyUsesAbsoluteTargets) {
    CenterSimulator center(kCenterArgs);
    TinyProxy proxy("user", "secret");
    ScopedHome home;
    test::TempDir scratch;
    Conversation c(home, "http://127.0.0.1:" + std::to_string(center.port()) + "/",
                   "proxyserver=127.0.0.1:" + std::to_string(proxy.port()) +
                       "\nproxyuser=user\nproxypassword=secret\n");
    std::string data = randomBytes(20000);
    sendThrough(c, data, true, scratch);
    EXPECT_EQ(receivedFile(center), data);
}

TEST(CenterConversation, WrongProxyCredentialsFailTheConnect) {
    std::vector<std::string> args = kCenterArgs;
    args.push_back("--tls");
    CenterSimulator center(args);
    TinyProxy proxy("user", "secret");
    ScopedHome home;
    Conversation c(home, "https://127.0.0.1:" + std::to_string(center.port()) + "/",
                   "proxyserver=127.0.0.1:" + std::to_string(proxy.port()) + "\nproxyuser=user\nproxypassword=wrong\n");
    EXPECT_FALSE(c.connect());
    EXPECT_FALSE(c.client().isConnected());
}

TEST(CenterConversation, SilentProxyIsBoundedByTheConnectTimeout) {
    test::SilentListener silent;
    ScopedHome home;
    Conversation c(home, "https://127.0.0.1:1/",
                   "proxyserver=127.0.0.1:" + std::to_string(silent.port()) + "\nproxyuser=u\nproxypassword=p\n");
    c.client().setConnectTimeout(1);
    c.client().setFirstByteTimeout(0);
    EXPECT_FALSE(c.connect()); // returns instead of waiting for ever
}
