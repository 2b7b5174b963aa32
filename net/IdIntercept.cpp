#include "net/IdIntercept.h"

#include "net/IdExceptionCore.h"

void TIdConnectionIntercept::Connect(TIdComponent* connection) {
    connection_ = connection;
    if (intercept_) intercept_->Connect(connection);
    if (OnConnect) OnConnect(*this);
}

void TIdConnectionIntercept::Disconnect() {
    if (intercept_) intercept_->Disconnect();
    if (OnDisconnect) OnDisconnect(*this);
    connection_ = nullptr;
}

void TIdConnectionIntercept::Receive(TIdBytes& buffer) {
    // Received data passes the outer intercept last.
    if (intercept_) intercept_->Receive(buffer);
    if (OnReceive) OnReceive(*this, buffer);
}

void TIdConnectionIntercept::Send(TIdBytes& buffer) {
    if (OnSend) OnSend(*this, buffer);
    if (intercept_) intercept_->Send(buffer);
}

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* next) {
    for (auto* link = next; link; link = link->intercept_)
        if (link == this) throw EIdInterceptCircularLink();
    if (intercept_) intercept_->RemoveFreeNotification(this);
    intercept_ = next;
    if (intercept_) intercept_->FreeNotification(this);
}

void TIdConnectionIntercept::Notification(TIdBaseComponent* component) {
    if (component == intercept_) intercept_ = nullptr;
}
