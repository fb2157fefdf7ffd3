#include "centerlink/CertificateRegistration.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <utility>
#include <vector>

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "api/ApiErrors.h"
#include "api/ResultCodes.h"
#include "centerlink/Conversation.h"
#include "centerlink/HttpClient.h"
#include "centerlink/HttpMessage.h"
#include "centerlink/SoapMessages.h"
#include "centerlink/SoapReader.h"
#include "common/DateText.h"
#include "common/FileControl.h"
#include "common/LogBridge.h"
#include "common/Paths.h"
#include "common/Settings.h"
#include "common/TermInfo.h"
#include "common/XmlWriter.h"
#include "platform/FdIo.h"
#include "platform/TempFile.h"
#include "platform/UniqueFd.h"

namespace plx {

namespace fs = std::filesystem;

namespace {

constexpr int kKeyBits = 1024;
constexpr int kCommunicationFailure = kResultCommunication;
constexpr int kMessageForm = kResultBadMessage;
constexpr int kOtherFailure = kResultOther;

constexpr std::string_view kRequestBegin = "-----BEGIN CERTIFICATE REQUEST-----";
constexpr std::string_view kRequestEnd = "-----END CERTIFICATE REQUEST-----";
constexpr std::string_view kCertBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kCertEnd = "-----END CERTIFICATE-----";

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct NameDeleter {
    void operator()(X509_NAME* name) const { X509_NAME_free(name); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using CertPtr = std::unique_ptr<X509, X509Deleter>;
using NamePtr = std::unique_ptr<X509_NAME, NameDeleter>;

std::mutex& registrationMutex() {
    static std::mutex mutex;
    return mutex;
}

// ---- files -------------------------------------------------------------

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

[[noreturn]] void failedCall(const char* call) { throw std::system_error(errno, std::generic_category(), call); }

// Secrets must never be readable by others, whatever the umask or an older
// file's mode says.
void writePrivateFile(const std::string& path, const std::string& text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) failedCall("open");
    if (::fchmod(fd.get(), 0600) != 0) failedCall("fchmod");
    if (!writeAll(fd.get(), text.data(), text.size())) failedCall("write");
    if (::fsync(fd.get()) != 0) failedCall("fsync");
}

// A reader never sees a half-written certificate.
bool replaceFile(const std::string& path, const std::string& text) {
    fs::path target(path);
    ScopedFileRemoval temp;
    try {
        temp = ScopedFileRemoval(createUniqueFile(target.parent_path(), target.filename().string() + ".", 0644));
    } catch (const std::exception&) {
        return false;
    }
    UniqueFd fd(::open(temp.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (!fd || !writeAll(fd.get(), text.data(), text.size()) || ::fsync(fd.get()) != 0) return false;
    fd.reset();
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return false;
    temp.release();
    return true;
}

// ---- subject -----------------------------------------------------------

using SubjectEntries = std::vector<std::pair<std::string, std::string>>;

SubjectEntries parseSubject(std::string_view text) {
    SubjectEntries entries;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        std::size_t equals = text.find('=', at);
        std::size_t comma = text.find(',', at);
        if (equals == std::string_view::npos || equals > comma) { // no key=value here
            if (comma == std::string_view::npos) break;
            at = comma + 1;
            continue;
        }
        std::string key(text.substr(at, equals - at));
        std::size_t start = equals + 1;
        std::size_t next;
        std::string value;
        if (start < text.size() && text[start] == '"') {
            std::size_t close = text.find('"', start + 1);
            value = text.substr(start + 1, close == std::string_view::npos ? close : close - start - 1);
            next = close == std::string_view::npos ? close : text.find(',', close + 1);
        } else {
            next = text.find(',', start);
            value = text.substr(start, next == std::string_view::npos ? next : next - start);
        }
        entries.emplace_back(std::move(key), std::move(value));
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    return entries;
}

const char* entryField(const std::string& key) {
    if (key == "C") return "countryName";
    if (key == "O") return "organizationName";
    if (key == "OU") return "organizationalUnitName";
    if (key == "CN") return "commonName";
    return nullptr;
}

bool isPrintableString(const std::string& value) {
    for (unsigned char c : value)
        if (!std::isalnum(c) && std::string_view(" '()+,-./:=?").find(static_cast<char>(c)) == std::string_view::npos)
            return false;
    return true;
}

// PrintableString keeps the bytes older terminals sent; OpenSSL 3 would
// otherwise choose UTF8String.
NamePtr makeName(std::string_view subject) {
    NamePtr name(X509_NAME_new());
    if (!name) return nullptr;
    for (const auto& [key, value] : parseSubject(subject)) {
        const char* field = entryField(key);
        if (!field) continue;
        int type = isPrintableString(value) ? V_ASN1_PRINTABLESTRING : MBSTRING_UTF8;
        const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
        if (X509_NAME_add_entry_by_txt(name.get(), field, type, bytes, static_cast<int>(value.size()), -1, 0) != 1)
            return nullptr;
    }
    return name;
}

// ---- certificate from the reply -----------------------------------------

std::string stripWhitespace(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    return out;
}

// The Base64 body of the reply's certificate text, markers or not.
std::optional<std::string> certificateBody(std::string_view text) {
    std::size_t begin = text.find(kCertBegin);
    if (begin != std::string_view::npos) {
        text.remove_prefix(begin + kCertBegin.size());
        std::size_t end = text.find(kCertEnd);
        if (end == std::string_view::npos) return std::nullopt;
        text = text.substr(0, end);
    }
    std::string body = stripWhitespace(text);
    if (body.empty()) return std::nullopt;
    return body;
}

std::string wrapPem(const std::string& body) {
    std::string pem = std::string(kCertBegin) + "\n";
    for (std::size_t at = 0; at < body.size(); at += 64) pem += body.substr(at, 64) + "\n";
    return pem + std::string(kCertEnd) + "\n";
}

// The PEM text to store, only when it is a certificate for key.
std::optional<std::string> usableCertificate(std::string_view replyText, EVP_PKEY* key) {
    auto body = certificateBody(replyText);
    if (!body) return std::nullopt;
    std::string pem = wrapPem(*body);
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    CertPtr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert || X509_check_private_key(cert.get(), key) != 1) return std::nullopt;
    return pem;
}

// ---- request text ---------------------------------------------------------

// The Base64 text between the request markers, line breaks kept.
std::optional<std::string> requestBody(const std::string& pem) {
    std::size_t begin = pem.find(kRequestBegin);
    if (begin == std::string::npos) return std::nullopt;
    std::size_t at = begin + kRequestBegin.size();
    while (at < pem.size() && pem[at] == '\r') ++at;
    while (at < pem.size() && pem[at] == '\n') ++at;
    std::size_t end = pem.find(kRequestEnd, at);
    if (end == std::string::npos) return std::nullopt;
    return pem.substr(at, end - at);
}

// ---- user message ---------------------------------------------------------

std::string failureText(int code, int lastError) {
    char text[256];
    if (code == kCommunicationFailure)
        std::snprintf(text, sizeof text, "証明書登録に失敗しました。\n通信障害コード：%ld",
                      static_cast<long>(lastError));
    else
        std::snprintf(text, sizeof text, "証明書登録に失敗しました。\n集配信結果コード  %s",
                      centerResultText(code).c_str());
    return text;
}

// A daemon has no screen: one line for the journal instead of a modal box.
void showFailure(int code, int lastError) {
    std::string line = "Korvane/PLX エラー情報: " + failureText(code, lastError);
    for (char& c : line)
        if (c == '\n') c = ' ';
    line += '\n';
    writeAll(STDERR_FILENO, line.data(), line.size());
}

// ---- one registration attempt -----------------------------------------------

// A conversation of one exchange ("/regist"), counted as the first: message
// kind 10 until the reply has come, 11 after. Its result is the code.
class Registration : public Conversation {
public:
    Registration(const TerminalReader& readTerminal, const std::optional<CenterRoute>& route)
        : Conversation("/regist", SessionLog::kRegistration, false), readTerminal_(readTerminal) {
        route_ = route;
    }

    // Leaves the session record; a failure throws RegistrationFailure.
    void run();
    using Conversation::linkError;

private:
    [[noreturn]] void fail(int code) { Conversation::fail({kApiCenterError, code, "", code}); }
    void readSettings();
    std::string makeRequestFiles();
    void connect();
    Reply send(const std::string& csrText);
    void writeMessage(XmlWriter& w, const std::string& csrText) const;
    void readReply(Reply& reply);
    void storeCertificate(const std::string& text);

    const TerminalReader& readTerminal_;
    std::unique_ptr<Settings> settings_;
    KeyPtr key_;
};

void Registration::run() {
    try {
        readSettings();
        std::string csrText = makeRequestFiles();
        connect();
        Reply reply = send(csrText);
        readReply(reply);
        http_.Disconnect();
        phase_ = SessionLog::kEnded;
        writeSessionRecord(SessionLog::kNormalEnd, SessionLog::kLevelNormal);
        return;
    } catch (const PLException&) {
        // the code is the result the step noted
    } catch (const std::exception&) {
        result_ = kOtherFailure;
    }
    writeSessionRecord(SessionLog::kAbnormalEnd, SessionLog::kLevelError);
    throw RegistrationFailure(result_);
}

void Registration::readSettings() {
    TerminalRec terminal;
    if (!readTerminal_ || !readTerminal_(terminal)) fail(kOtherFailure);
    terminal_ = std::move(terminal);
    settings_ = loadSettings();
    if (!settings_) fail(kOtherFailure);
    for (const std::string* folder : {&settings_->tempFolder, &settings_->apiLogFolder, &settings_->sessionLogFolder})
        if (folder->empty() || !pathExists(*folder, true)) fail(kOtherFailure);
    useSettings(*settings_);
}

std::string Registration::makeRequestFiles() {
    key_ = makeKey(kKeyBits);
    if (!key_) fail(kOtherFailure);
    RequestPtr request = makeRequest(key_.get(), "C=JP,O=QRT,CN=" + terminal_->TerminalID);
    if (!request) fail(kOtherFailure);
    // An older certificate cannot belong to the new key: keeping it would
    // pair the two for good if this attempt fails.
    ::unlink(certificates_.cert.c_str());
    writeRequestPem(request.get(), certificates_.csr); // throws: run() ends with kOtherFailure
    writeKeyPem(key_.get(), certificates_.key);

    auto body = requestBody(readTextFile(certificates_.csr));
    if (!body) {
        ::unlink(certificates_.key.c_str());
        fail(kOtherFailure);
    }
    return std::move(*body);
}

void Registration::connect() {
    if (route().connectPort() <= 0) fail(kOtherFailure);
    // Also the limit of a proxy's answer while the tunnel is opened.
    http_.setFirstByteTimeout(settings_->registTimeout);
    if (!connectTo({}, route().https() ? certificates_.key : std::string())) fail(kCommunicationFailure);
}

void Registration::writeMessage(XmlWriter& w, const std::string& csrText) const {
    writeEnvelopeStart(w, "RegistTerminal");
    writeSoapHeader(w, requestHeader());
    w.writeStartTag("Authenticate");
    w.writeElement("Password", terminal_->Password);
    w.writeElement("ProtocolVersion", terminal_->ProtocolVersion);
    w.writeElement("ServiceNo", "");
    w.writeEndTag("Authenticate");
    w.writeElement("CSR", csrText);
    writeEnvelopeEnd(w, "RegistTerminal");
}

Conversation::Reply Registration::send(const std::string& csrText) {
    try {
        return exchange(
            {SessionLog::kAuthRequest, settings_->registTimeout, "", [&](XmlWriter& w) { writeMessage(w, csrText); }});
    } catch (const PLException&) {
        phase_ = SessionLog::kAuthRequest; // without a reply the message kind stays 10
        throw;
    } catch (const std::exception&) {
        fail(kOtherFailure); // the message could not be written
    }
}

void Registration::readReply(Reply& reply) {
    std::optional<SoapDocument> document;
    try {
        document.emplace(SoapDocument::parseFile(reply.body.path()));
    } catch (const SoapParseError&) {
        fail(kOtherFailure);
    }
    reply.body = ScopedFileRemoval();
    if (!document->root()) fail(kMessageForm);
    auto response = document->method({"RegistTerminalResponse", "RegistResponse"});
    if (!response) fail(kMessageForm);
    if (std::int32_t code = resultCodeOf(*response); code != kResultOk) fail(code);
    auto certificate = response->child("Certificate");
    if (!certificate) fail(kMessageForm); // success without a certificate would fail every later connect
    storeCertificate(certificate->text());
}

void Registration::storeCertificate(const std::string& text) {
    auto pem = usableCertificate(text, key_.get());
    if (!pem) fail(kMessageForm);
    if (!replaceFile(certificates_.cert, *pem)) fail(kOtherFailure);
}

} // namespace

KeyPtr makeKey(int bits) {
    if (bits <= 0) return nullptr;
    return KeyPtr(EVP_RSA_gen(static_cast<unsigned>(bits))); // exponent 65537
}

RequestPtr makeRequest(EVP_PKEY* key, const std::string& subject) {
    if (!key) return nullptr;
    RequestPtr request(X509_REQ_new());
    NamePtr name = makeName(subject);
    if (!request || !name) return nullptr;
    if (X509_REQ_set_version(request.get(), 0) != 1 || X509_REQ_set_subject_name(request.get(), name.get()) != 1 ||
        X509_REQ_set_pubkey(request.get(), key) != 1)
        return nullptr;
    if (X509_REQ_sign(request.get(), key, EVP_sha256()) <= 0) return nullptr;
    return request;
}

void writeRequestPem(X509_REQ* request, const std::string& path) {
    if (!request || path.empty()) throw std::invalid_argument("no request or no path");
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509_REQ(bio.get(), request) != 1) throw std::runtime_error("request not encoded");
    writePrivateFile(path, bioText(bio.get()));
}

void writeKeyPem(EVP_PKEY* key, const std::string& path, const char* passPhrase) {
    if (!key || path.empty()) throw std::invalid_argument("no key or no path");
    BioPtr bio(BIO_new(BIO_s_mem()));
    const EVP_CIPHER* cipher = passPhrase ? EVP_des_ede3_cbc() : nullptr;
    auto* phrase = reinterpret_cast<unsigned char*>(const_cast<char*>(passPhrase));
    int phraseLength = passPhrase ? static_cast<int>(std::strlen(passPhrase)) : 0;
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, cipher, phrase, phraseLength, nullptr, nullptr) != 1)
        throw std::runtime_error("key not encoded");
    writePrivateFile(path, bioText(bio.get()));
}

bool isSSLEnviroment() {
    CertificateFiles files = configuredCertificateFiles();
    return !readTextFile(files.cert).empty() && !readTextFile(files.key).empty();
}

RegistrationFailure::RegistrationFailure(std::int32_t result)
    : PLException(kApiCenterError, result, "端末の初期化に失敗したので処理を中止しました", kExact) {}

void sslRegist(const TerminalReader& readTerminal, const std::optional<CenterRoute>& route) {
    std::optional<RegistrationFailure> failure;
    int lastError = 0;
    {
        std::lock_guard<std::mutex> lock(registrationMutex());
        if (isSSLEnviroment()) return;
        Registration attempt(readTerminal, route);
        try {
            attempt.run();
            return;
        } catch (const RegistrationFailure& failed) {
            failure = failed;
            lastError = attempt.linkError();
        }
    }
    if (isDialogAppearance()) showFailure(failure->detail(), lastError);
    throw *failure;
}

} // namespace plx
