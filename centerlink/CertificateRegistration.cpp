#include "centerlink/CertificateRegistration.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <utility>

#include "api/ApiErrors.h"
#include "api/ResultCodes.h"
#include "centerlink/CertificatePem.h"
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
#include "platform/PendingFile.h"
#include "platform/TempFile.h"

namespace plx {

namespace {

constexpr int kKeyBits = 1024;
constexpr int kCommunicationFailure = kResultCommunication;
constexpr int kMessageForm = kResultBadMessage;
constexpr int kOtherFailure = kResultOther;

std::mutex& registrationMutex() {
    static std::mutex mutex;
    return mutex;
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
    // A failure to make them throws its reason: run() ends with kOtherFailure.
    key_ = makeKey(kKeyBits);
    RequestPtr request = makeRequest(key_.get(), "C=JP,O=QRT,CN=" + terminal_->TerminalID);
    // An older certificate cannot belong to the new key: keeping it would
    // pair the two for good if this attempt fails.
    ::unlink(certificates_.cert.c_str());
    writeRequestPem(request.get(), certificates_.csr);
    writeKeyPem(key_.get(), certificates_.key);

    std::optional<std::string> pem = readAllText(certificates_.csr);
    auto body = pem ? requestBody(*pem) : std::nullopt;
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
    // A reader never sees a half-written certificate; a failure throws its
    // reason and run() ends with kOtherFailure.
    replaceFileText(certificates_.cert, *pem, 0644);
}

} // namespace

bool isSSLEnviroment() {
    CertificateFiles files = configuredCertificateFiles();
    auto notEmpty = [](const std::string& path) { return !readAllText(path).value_or(std::string()).empty(); };
    return notEmpty(files.cert) && notEmpty(files.key);
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
