// Certificate registration against the center simulator over HTTP and HTTPS,
// and against scripted peers for replies the simulator does not make.
#include <cerrno>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <thread>

#include "centerlink/CertificatePem.h"
#include "centerlink/CertificateRegistration.h"
#include "centerlink/HttpClient.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SoapMessages.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "platform/TempFile.h"
#include "tests/TestSupport.h"
#include "tests/centerlink/LoopbackPeer.h"
#include "tests/centerlink/TestCertificates.h"
#include "tests/centerlink/TestPeers.h"

using namespace plx;
using test::CenterSimulator;
using test::readFile;
using test::TempDir;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kIds = {"--terminal-id", "T0001", "--center-id", "C0001", "--password", "pw"};

std::vector<std::string> centerArgs(std::vector<std::string> extra) {
    extra.insert(extra.end(), kIds.begin(), kIds.end());
    return extra;
}

// The registration's result: 0 when registered, else its failure's detail.
int registrationResult(const TerminalReader& readTerminal) {
    try {
        sslRegist(readTerminal);
        return 0;
    } catch (const RegistrationFailure& failure) {
        return failure.detail();
    }
}

std::string urlOf(bool https, int port) {
    return std::string(https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + "/";
}

// A program folder with its three folders; temporary files go to a scratch
// folder of their own (made last, so that nothing else lands there).
struct Terminal {
    explicit Terminal(const std::string& centerUrl, bool dialog = false) {
        writeFile(home / "plconfig.ini", "[tempfile]\nlocation=" + temp.path().string() +
                                             "\n[apilog]\nlocation=" + apiLog.path().string() +
                                             "\n[sessionlog]\nlocation=" + sessionLog.path().string() +
                                             "\n[dialog]\nappearance=" + (dialog ? "yes" : "no") + "\n");
        writeFile(home / "pltimeout.ini", "[timeout]\ntcp=30\nregist=30\nconnect=10\n");
        setCenter(centerUrl);
        record = TerminalRec{"T0001", "C0001", "127.0.0.1", centerUrl, "pw", "1.0", "", "", ""};
    }
    void setCenter(const std::string& url) {
        writeFile(home / "plterm.ini", "[terminfo]\ncenterurl=" + url + "\n");
        record.CenterURL = url;
    }
    int regist() const {
        return registrationResult([this](TerminalRec& out) {
            out = record;
            return true;
        });
    }
    fs::path cert() const { return temp / "zorvantike.cert"; }
    fs::path key() const { return temp / "zorvantike.key"; }
    fs::path csr() const { return temp / "zorvantike.csr"; }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(scratch.path())) names.push_back(e.path().filename());
        for (const auto& e : fs::directory_iterator(temp.path()))
            if (e.path() != cert() && e.path() != key() && e.path() != csr()) names.push_back(e.path().filename());
        return names;
    }

    test::ScopedHome home;
    TempDir temp, apiLog, sessionLog, scratch;
    test::ScopedEnv tmpdir{"TMPDIR", scratch.path().string()};
    TerminalRec record;
};

int registrations(const CenterSimulator& center) {
    std::string log = center.log();
    int count = 0;
    for (auto at = log.find("\"kind\": \"regist\""); at != std::string::npos;
         at = log.find("\"kind\": \"regist\"", at + 1))
        ++count;
    return count;
}

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using CertPtr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

template <class T>
T* readPem(const fs::path& path, T* (*read)(BIO*, T**, pem_password_cb*, void*), void* pass = nullptr) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    return bio ? read(bio.get(), nullptr, nullptr, pass) : nullptr;
}

KeyPtr loadKey(const fs::path& path, const char* pass = nullptr) {
    return KeyPtr(readPem<EVP_PKEY>(path, PEM_read_bio_PrivateKey, const_cast<char*>(pass)));
}

std::string rfc2253(X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::vector<int> entryTypes(X509_NAME* name) {
    std::vector<int> types;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i)
        types.push_back(ASN1_STRING_type(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i))));
    return types;
}

// The stored files make a registered terminal: a signed request, a private
// key only its owner reads, and a certificate for that key in 64-column PEM.
void expectRegistered(const Terminal& t) {
    for (const fs::path& secret : {t.key(), t.csr()}) {
        struct stat st {};
        ASSERT_EQ(::stat(secret.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << secret;
    }
    KeyPtr key = loadKey(t.key());
    ASSERT_TRUE(key);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 1024);

    RequestPtr request(readPem<X509_REQ>(t.csr(), PEM_read_bio_X509_REQ));
    ASSERT_TRUE(request);
    EXPECT_EQ(X509_REQ_get_version(request.get()), 0);
    EXPECT_EQ(X509_REQ_verify(request.get(), X509_REQ_get0_pubkey(request.get())), 1);
    EXPECT_EQ(EVP_PKEY_eq(X509_REQ_get0_pubkey(request.get()), key.get()), 1);
    X509_NAME* subject = X509_REQ_get_subject_name(request.get());
    EXPECT_EQ(rfc2253(subject), "CN=T0001,O=QRT,C=JP");
    EXPECT_EQ(entryTypes(subject), std::vector<int>(3, V_ASN1_PRINTABLESTRING));

    CertPtr cert(readPem<X509>(t.cert(), PEM_read_bio_X509));
    ASSERT_TRUE(cert);
    EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
    std::string text = readFile(t.cert());
    EXPECT_TRUE(text.ends_with("\n"));
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "-----BEGIN CERTIFICATE-----");
    EXPECT_EQ(lines.back(), "-----END CERTIFICATE-----");
    for (std::size_t i = 1; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << i;
    EXPECT_LE(lines[lines.size() - 2].size(), 64u);
}

// A RequestAuthentication through client; true when a reply came back.
bool exchangeWorks(HttpClient& client) {
    OutgoingMessage content;
    XmlWriter body;
    body.open(content);
    AuthenticationRequest a;
    a.header = SoapHeader{getNowTimeText(), "T0001", "C0001", "", true};
    a.password = "pw";
    writeRequestAuthentication(body, a);
    body.close();
    HttpMessage request;
    request.setMethod("POST");
    request.setRequestTarget("/putfile", readCenterRoute().value());
    std::string header;
    fs::path reply;
    if (!client.Write(request.request(std::move(content)), header, reply)) return false;
    ScopedFileRemoval removeReply(reply);
    return readFile(reply).find("<ResultCode>0</ResultCode>") != std::string::npos;
}

// A peer that answers one request with a RegistTerminalResponse-like body.
test::LoopbackPeer answering(const std::string& body) {
    return test::LoopbackPeer([body](int fd) {
        test::readHttpMessage(fd);
        test::sendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\nConnection: close\r\n\r\n" + body);
    });
}

std::string registReply(const std::string& method, const std::string& inner) {
    return "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"x\"><SOAP-ENV:Body><" + method + ">" + inner + "</" + method +
           "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

} // namespace

// Every certificate text the center may send, over both schemes.
TEST(CertificateRegistration, RegistersOnceAndAgainOnlyWhenTheCertificateIsEmpty) {
    const std::pair<bool, const char*> cases[] = {
        {false, "oneline"}, {true, "oneline"}, {true, "wrapped"}, {false, "pem"}};
    for (const auto& [https, format] : cases) {
        std::vector<std::string> args = centerArgs({"--regist-cert-format", format});
        if (https) args.push_back("--tls");
        CenterSimulator center(args);
        Terminal t(urlOf(https, center.port()));
        ASSERT_EQ(t.regist(), 0) << format << " https " << https;
        expectRegistered(t);
        std::string log = center.log();
        EXPECT_NE(log.find("\"signature_ok\": true"), std::string::npos) << log;
        EXPECT_NE(log.find("\"subject\": \"CN=T0001,O=QRT,C=JP\""), std::string::npos) << log;
        EXPECT_NE(log.find(std::string("\"tls\": ") + (https ? "true" : "false")), std::string::npos) << log;

        EXPECT_EQ(t.regist(), 0);
        EXPECT_EQ(registrations(center), 1); // the second call sends nothing
        EXPECT_TRUE(t.leftovers().empty()) << t.leftovers().front();

        writeFile(t.cert(), "");
        EXPECT_FALSE(isSSLEnviroment());
        EXPECT_EQ(t.regist(), 0);
        EXPECT_EQ(registrations(center), 2);
        expectRegistered(t);
    }
}

TEST(CertificateRegistration, ConcurrentCallersRegisterOnce) {
    CenterSimulator center(centerArgs({"--tls"}));
    Terminal t(urlOf(true, center.port()));
    std::vector<int> results(4, -1);
    std::vector<std::thread> callers;
    for (int& r : results) callers.emplace_back([&t, &r] { r = t.regist(); });
    for (auto& c : callers) c.join();
    EXPECT_EQ(results, std::vector<int>(4, 0));
    EXPECT_EQ(registrations(center), 1);
    expectRegistered(t);
}

TEST(CertificateRegistration, StoredCertificateOpensAClientCertificateCenter) {
    TempDir pki;
    CenterSimulator registrar(centerArgs({"--tls", "--pki", pki.path().string()}));
    CenterSimulator guarded({"--tls", "--pki", pki.path().string(), "--client-cert", "required"});
    Terminal t(urlOf(true, registrar.port()));
    ASSERT_EQ(t.regist(), 0);

    t.setCenter(urlOf(true, guarded.port()));
    HttpClient anonymous;
    anonymous.setFirstByteTimeout(30);
    EXPECT_FALSE(anonymous.Connect(readCenterRoute().value()) && exchangeWorks(anonymous));
    HttpClient client;
    client.setFirstByteTimeout(30);
    HttpOutcome connected = client.Connect(readCenterRoute().value(), t.cert().string(), t.key().string());
    ASSERT_TRUE(connected) << connected.error;
    EXPECT_TRUE(exchangeWorks(client));
}

TEST(CertificateRegistration, CenterRefusalStoresNothingAndTellsTheJournal) {
    CenterSimulator center(centerArgs({"--fault", "result=18@regist"}));
    Terminal t(urlOf(false, center.port()), true);
    // A certificate whose key is gone must not survive with a new key.
    writeFile(t.cert(), "-----BEGIN CERTIFICATE-----\nold\n-----END CERTIFICATE-----\n");
    testing::internal::CaptureStderr();
    int code = t.regist();
    std::string journal = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 18);
    EXPECT_FALSE(fs::exists(t.cert()));
    EXPECT_FALSE(isSSLEnviroment());
    EXPECT_NE(journal.find("Korvane/PLX エラー情報: 証明書登録に失敗しました。 集配信結果コード  18:証明書不正\n"),
              std::string::npos)
        << journal;
    EXPECT_TRUE(t.leftovers().empty());
    testing::internal::CaptureStderr();
    EXPECT_EQ(t.regist(), 18); // nothing was kept that would stop a retry
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(registrations(center), 2);
}

TEST(CertificateRegistration, UnreachableCenterIsACommunicationFailure) {
    int closedPort = test::freeLoopbackPort();
    for (bool dialog : {true, false}) {
        Terminal t(urlOf(true, closedPort), dialog);
        testing::internal::CaptureStderr();
        EXPECT_EQ(t.regist(), 1);
        std::string journal = testing::internal::GetCapturedStderr();
        if (dialog)
            EXPECT_NE(journal.find("証明書登録に失敗しました。 通信障害コード：10061"), std::string::npos) << journal;
        else
            EXPECT_EQ(journal.find("証明書登録"), std::string::npos) << journal;
        EXPECT_FALSE(fs::exists(t.cert()));
        EXPECT_TRUE(t.leftovers().empty());
    }
}

TEST(CertificateRegistration, UnusableRepliesAreNeverStored) {
    TempDir other;
    std::string foreign = readFile(test::makeSelfSignedCertificate(other.path()).cert); // valid, wrong key
    struct Case {
        std::string body;
        int code;
    } cases[] = {
        {registReply("RegistTerminalResponse", "<ResultCode>0</ResultCode><Certificate>bogus!!</Certificate>"), 10},
        {registReply("RegistTerminalResponse", "<ResultCode>0</ResultCode><Certificate>" + foreign + "</Certificate>"),
         10},
        {registReply("RegistTerminalResponse",
                     "<ResultCode>0</ResultCode><Certificate>-----BEGIN CERTIFICATE-----\nTUlJ</Certificate>"),
         10},
        {registReply("RegistTerminalResponse", "<ResultCode>0</ResultCode>"), 10},
        {registReply("OtherResponse", "<ResultCode>0</ResultCode>"), 10},
        {"not xml at all", 99},
    };
    for (const Case& c : cases) {
        auto peer = answering(c.body);
        Terminal t(urlOf(false, peer.port()));
        EXPECT_EQ(t.regist(), c.code) << c.body;
        EXPECT_FALSE(fs::exists(t.cert())) << c.body;
        EXPECT_TRUE(t.leftovers().empty()) << c.body;
    }
    CenterSimulator center(centerArgs({"--fault", "no-cert@regist"}));
    Terminal t(urlOf(false, center.port()));
    EXPECT_EQ(t.regist(), 10);
    EXPECT_FALSE(fs::exists(t.cert()));
}

TEST(CertificateRegistration, MissingTerminalOrFoldersStopBeforeSending) {
    auto peer = answering("unused");
    Terminal t(urlOf(false, peer.port()));
    EXPECT_EQ(registrationResult([](TerminalRec&) { return false; }), 99);
    fs::remove_all(t.sessionLog.path());
    EXPECT_EQ(t.regist(), 99);
    fs::remove(t.home / "plconfig.ini");
    EXPECT_EQ(t.regist(), 99);
    EXPECT_EQ(peer.accepted(), 0);
}

TEST(CertificateRequest, SubjectEntriesKeepPrintableStrings) {
    KeyPtr key = makeKey(1024);
    ASSERT_TRUE(key);
    EXPECT_THROW(makeRequest(nullptr, "CN=x"), std::invalid_argument);

    RequestPtr request = makeRequest(key.get(), "C=JP,  O=\"Q,R\",OU=Unit,L=Ignored,CN=T 01");
    ASSERT_TRUE(request);
    X509_NAME* name = X509_REQ_get_subject_name(request.get());
    EXPECT_EQ(rfc2253(name), "CN=T 01,OU=Unit,O=Q\\,R,C=JP");
    EXPECT_EQ(entryTypes(name), std::vector<int>(4, V_ASN1_PRINTABLESTRING));

    RequestPtr other = makeRequest(key.get(), "CN=T_01@site");
    ASSERT_TRUE(other);
    EXPECT_EQ(rfc2253(X509_REQ_get_subject_name(other.get())), "CN=T_01@site");
}

TEST(CertificateRequest, KeyFilesAreOwnerOnlyAndEncryptedWithAPassPhrase) {
    TempDir dir;
    KeyPtr key = makeKey(1024);
    writeFile(dir / "key.pem", "old");
    ::chmod((dir / "key.pem").c_str(), 0644);
    ASSERT_NO_THROW(writeKeyPem(key.get(), (dir / "key.pem").string(), "secret"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "key.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    KeyPtr back = loadKey(dir / "key.pem", "secret");
    ASSERT_TRUE(back);
    EXPECT_EQ(EVP_PKEY_eq(back.get(), key.get()), 1);
    EXPECT_FALSE(loadKey(dir / "key.pem", "wrong"));

    ASSERT_NO_THROW(writeKeyPem(key.get(), (dir / "plain.pem").string()));
    EXPECT_TRUE(loadKey(dir / "plain.pem"));
    EXPECT_THROW(writeKeyPem(nullptr, (dir / "none.pem").string()), std::invalid_argument);
    EXPECT_THROW(writeRequestPem(nullptr, (dir / "none.csr").string()), std::invalid_argument);
    try {
        writeKeyPem(key.get(), (dir / "missing" / "key.pem").string());
        ADD_FAILURE() << "a key written into a missing folder";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
    }
}
