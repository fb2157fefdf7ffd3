#pragma once
// What the two terminal-started transfers (PLSendData, PLRecvData) share
// around their conversation with the center: the session count, the
// settings, the terminal information and the data kind read through the
// service's Client, the connection (with the certificate registration's
// refusal), and the tail every call ends with: the triple it returns, one
// API-log record and, where the call got far enough, the session-log record.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "centerlink/Conversation.h"
#include "common/Settings.h"
#include "service/classes/ApiMethod.h"
#include "service/classes/Transport.h"

namespace plx {

// Where the two transfer methods end differently.
struct TransferRules {
    std::string_view apiName;     // as the API log names it
    std::string_view unknownText; // LastErrorMsg of an unexpected failure
    // The API record of a failure after the authentication is a warning
    // (type 2); otherwise every failure is an error (type 1).
    bool warnsAfterAuthentication;
    // An unexpected failure writes the session record even where a failure
    // of a step would not.
    bool unknownAlwaysRecorded;
    // The API record of an unexpected failure names the session.
    bool unknownWithSessionId;
};

class Transfer : public Conversation {
public:
    Transfer(Transport& transport, const TransferRules& rules, std::string target, SessionLog::TransferKind kind,
             std::string argumentLine);

    // The whole call: a session count (none within 5 seconds: code 1,
    // "セッション中止", no record), the triple cleared, the steps, and the
    // end. Returns the call's own outcome.
    ApiResult run();

protected:
    // The method's steps; a certificate registration that fails ends the
    // call at once with its RegistrationFailure as the triple, no record.
    virtual void steps() = 0;
    // The call went through: the triple and the records.
    virtual ApiResult succeeded() = 0;

    // plconfig.ini with its folders, and the connection's time-outs.
    void useCheckedSettings();
    // The terminal information; a failure fails with 2 and the Client's
    // system error.
    void readTerminalInfo();
    // The data kind's one definition into file_, under the plfile.ini lock
    // so no other call replaces the Client's search results in between;
    // not exactly one: notOne. From the found kind on, a failure is
    // recorded when recordedOnceFound.
    void readDefinition(const std::string& fileType, const StepFailure& notOne, bool recordedOnceFound);
    // Connects (see connectForTransfer) and starts the progress reports.
    void connect();
    // The RequestAuthentication's values of this transfer.
    AuthenticationRequest authenticationRequest(std::string resendFlag) const;

    // The end of a call that went through: outcome in the API log, and the
    // session record with result.
    ApiResult finish(const ApiResult& outcome, std::int32_t result);

    Transport& transport_;
    Client& client_;
    ErrorTriple& triple_;
    std::unique_ptr<Settings> settings_;

private:
    // This call as an API method: its name, arguments and failure type.
    ApiMethod apiMethod(std::string_view sessionId) const;
    ApiResult failed(const PLException& failure);
    ApiResult failedUnexpectedly();
    std::int16_t failureLogType() const;
    // A failure before the file went through ends the conversation
    // abnormally; a later one is a warning.
    void writeFailureRecord(bool early);

    const TransferRules& rules_;
    std::string argumentLine_;
};

} // namespace plx
