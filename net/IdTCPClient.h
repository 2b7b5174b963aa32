#pragma once
// The client side of one TCP connection: the target and connect settings, and
// EstablishConnection. Settings are copied into the attached handler whenever
// they change and whenever a handler is attached.

#include "net/IdTCPConnection.h"

#include <string>

class TIdTCPClientCustom : public TIdTCPConnection {
public:
    explicit TIdTCPClientCustom(TIdBaseComponent* owner = nullptr);

    // Raises EIdAlreadyConnected, EIdHostRequired, EIdPortRequired, or whatever
    // the handler raises while connecting (after closing it again).
    void EstablishConnection();

    const std::string& Host() const { return host_; }
    void SetHost(const std::string& value);
    int Port() const { return port_; }
    void SetPort(int value);
    TIdIPVersion IPVersion() const { return ipVersion_; }
    void SetIPVersion(TIdIPVersion value);
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int value);
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int value);
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& value);
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int value);
    int BoundPortRangeMin = 0;
    int BoundPortRangeMax = 0;
    void SetOnBeforeBind(TNotifyEvent handler);
    void SetOnAfterBind(TNotifyEvent handler);

    TNotifyEvent OnConnected;

protected:
    void HandlerAttached() override;

private:
    void CopySocketSettings();

    std::string host_;
    int port_ = 0;
    TIdIPVersion ipVersion_ = Id_IPv4;
    int connectTimeout_ = 0;
    int readTimeout_ = -1;
    std::string boundIP_;
    int boundPort_ = 0;
    TNotifyEvent onBeforeBind_;
    TNotifyEvent onAfterBind_;
};

// The same client with its settings published.
class TIdTCPClient : public TIdTCPClientCustom {
public:
    using TIdTCPClientCustom::TIdTCPClientCustom;
};
