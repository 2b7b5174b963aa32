#pragma once
// A handler whose transport is one socket handle, with the local binding settings.

#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

#include <functional>
#include <memory>

class TIdIOHandlerSocket;

// Makes the socket connect through a proxy instead of to the target itself.
class TIdCustomTransparentProxy : public TIdComponent {
public:
    using TIdComponent::TIdComponent;
    virtual bool Enabled() const = 0;
    std::string Host;
    int Port = 0;
    TIdIPVersion IPVersion = Id_IPv4;
    // Opens the path from the connected proxy to the real target.
    virtual void Connect(TIdIOHandlerSocket& handler, const std::string& host, int port,
                         TIdIPVersion version) = 0;
};

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    using TNotifyEvent = std::function<void(TIdComponent* sender)>;

    explicit TIdIOHandlerSocket(TIdBaseComponent* owner = nullptr);
    ~TIdIOHandlerSocket() override;

    void OpenHandler() override;
    // Creates, binds and (in subclasses) connects the socket.
    virtual void ConnectSocket();

    std::string Destination() const override;
    void SetDestination(const std::string& value) override;
    void SetUseNagle(bool value);
    bool UseNagle() const { return useNagle_; }
    TIdSocketHandle* Binding() const { return binding_.get(); }
    // None unless one was set: this client has no proxy kind to make on demand.
    TIdCustomTransparentProxy* TransparentProxy() const { return transparentProxy_; }
    void SetTransparentProxy(TIdCustomTransparentProxy* proxy);

    std::string BoundIP;
    int BoundPort = 0;
    int BoundPortRangeMin = 0;
    int BoundPortRangeMax = 0;
    int DefaultPort = 0;
    TIdIPVersion IPVersion = Id_IPv4;
    TNotifyEvent OnBeforeBind;
    TNotifyEvent OnAfterBind;
    TNotifyEvent OnSocketAllocated;

protected:
    void Notification(TIdBaseComponent* component) override;
    bool TransportAllocated() const override { return binding_ && binding_->IsOpen(); }
    void CloseTransport() override;
    std::int32_t ReceiveFromTransport(TIdBytes& buffer, std::int32_t timeLimit) override;
    std::int32_t SendToTransport(const TIdBytes& buffer, std::int32_t offset,
                                 std::int32_t count) override;

    std::unique_ptr<TIdSocketHandle> binding_;
    TIdCustomTransparentProxy* transparentProxy_ = nullptr;

private:
    bool useNagle_ = true;
};
