#pragma once
// The gateway message handler: answers the center's RequestAuthentication,
// GetFile, PutFile and ReportStatus as SOAP server, keeps the register entry
// of the file being moved, tells the applications through the Client's
// events and logs each conversation.

#include <memory>

#include "centerlink/HttpServer.h"
#include "service/classes/Client.h"

namespace plx {

class CenterNetwork : public GatewayHandler {
public:
    explicit CenterNetwork(std::shared_ptr<Client> client);
    ~CenterNetwork() override;

    void beginConnection() override;
    // The body taken in as it arrives, the reply streamed.
    BodyReader* requestReader() override;
    OutgoingMessage respond(const GatewayRequest& request) override;
    // An authentication of this connection was accepted.
    bool authenticated() const override;
    void endConnection(const GatewayRequest& request) override;

    struct State;

private:
    std::shared_ptr<Client> client_;
    std::unique_ptr<State> state_;
};

} // namespace plx
