#pragma once
// A filter between a connection's handler and its transport: told of connect
// and disconnect, handed every received and every outgoing block, which it may
// replace. Intercepts chain through their own Intercept.

#include "net/IdComponent.h"
#include "net/IdGlobal.h"

#include <functional>

class TIdConnectionIntercept : public TIdComponent {
public:
    using TInterceptNotifyEvent = std::function<void(TIdConnectionIntercept& sender)>;
    using TInterceptStreamEvent =
        std::function<void(TIdConnectionIntercept& sender, TIdBytes& buffer)>;

    explicit TIdConnectionIntercept(TIdBaseComponent* owner = nullptr) : TIdComponent(owner) {}

    virtual void Connect(TIdComponent* connection);
    virtual void Disconnect();
    virtual void Receive(TIdBytes& buffer);
    virtual void Send(TIdBytes& buffer);

    TIdConnectionIntercept* Intercept() const { return intercept_; }
    // Raises EIdInterceptCircularLink when the chain would lead back here.
    void SetIntercept(TIdConnectionIntercept* next);
    TIdComponent* Connection() const { return connection_; }

    TInterceptNotifyEvent OnConnect;
    TInterceptNotifyEvent OnDisconnect;
    TInterceptStreamEvent OnReceive;
    TInterceptStreamEvent OnSend;

protected:
    void Notification(TIdBaseComponent* component) override;

private:
    TIdConnectionIntercept* intercept_ = nullptr;
    TIdComponent* connection_ = nullptr;
};
