#include "net/IdIOHandlerStack.h"

#include "net/IdAntiFreezeBase.h"
#include "net/IdExceptionCore.h"
#include "net/IdTransferWatch.h"

#include <chrono>

TIdConnectThread::TIdConnectThread(TIdSocketHandle& binding) : binding_(binding) {}

TIdConnectThread::~TIdConnectThread() {
    WaitFor();
}

void TIdConnectThread::Start() {
    thread_ = std::thread([this] { Run(); });
}

void TIdConnectThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Run() {
    try {
        binding_.ConnectToPeer();
    } catch (const EIdSocketError& e) {
        // Id_WSAEBADF and Id_WSAENOTSOCK are what the connect reports when its socket is closed
        // under it.
        if (e.ErrorNumber() != Id_WSAEBADF && e.ErrorNumber() != Id_WSAENOTSOCK) {
            ConnectErrorText = e.what();
            ConnectErrorNumber = e.ErrorNumber();
        }
    } catch (const std::exception& e) {
        ConnectErrorText = e.what();
    }
    Stop();
    finished_.store(true, std::memory_order_release);
}

TIdIOHandlerStack::TIdIOHandlerStack(TIdBaseComponent* owner) : TIdIOHandlerSocket(owner) {}

void TIdIOHandlerStack::ConnectSocket() {
    TIdIOHandlerSocket::ConnectSocket();
    const bool viaProxy = transparentProxy_ && transparentProxy_->Enabled();
    const std::string host = viaProxy ? transparentProxy_->Host : Host;
    const int port = viaProxy ? transparentProxy_->Port : Port;
    const TIdIPVersion version = viaProxy ? transparentProxy_->IPVersion : IPVersion;
    std::string address;
    if (version == Id_IPv4) {
        if (IsIPv4Text(host)) {
            address = host;
        } else {
            NotifyStatus(hsResolving, {host});
            address = CurrentStack()->LookupHost(host, IPVersion);
        }
    } else {
        if (!CanonicalIPv6Text(host).empty()) {
            address = host;
        } else {
            NotifyStatus(hsResolving, {host});
            address = CurrentStack()->LookupHost(host, Id_IPv6);
        }
    }
    binding_->SetPeerEndpoint(address, port, version);
    NotifyStatus(hsConnecting, {binding_->PeerAddress()});
    ConnectWithinTransfer();
    if (viaProxy) transparentProxy_->Connect(*this, Host, Port, IPVersion);
}

void TIdIOHandlerStack::ConnectWithinTransfer() {
    const std::int32_t own = ConnectTimeout == 0 ? -2 : ConnectTimeout;
    const std::int32_t limit = TransferWatch ? TransferWatch->ConnectBound(own) : own;
    // Without a limit of its own or the transfer's, or an abort to heed, the
    // connect runs here.
    if (ConnectTimeout == 0 && limit == -2 && !(TransferWatch && TransferWatch->Abortable())) {
        binding_->ConnectToPeer();
        return;
    }
    if (TransferWatch) TransferWatch->Check();
    try {
        ConnectWithTimeout(limit);
    } catch (const EIdConnectTimeout&) {
        if (TransferWatch && limit != own) TransferWatch->Check();
        throw;
    }
}

void TIdIOHandlerStack::ConnectWithTimeout(std::int32_t limit) {
    if (limit == -1) limit = -2;
    const bool unlimited = limit == -2;
    TIdConnectThread thread(*binding_);
    thread.Start();
    constexpr std::int32_t step = 125;
    std::int32_t remaining = unlimited ? step + 1 : limit;
    while (step < remaining) {
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
        if (unlimited)
            remaining = step + 1;
        else
            remaining -= step;
        TIdAntiFreezeBase::DoProcess(false);
        if (thread.Stopped() || Aborted()) {
            remaining = 0;
            break;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(remaining));
    if (!thread.Stopped()) {
        const bool aborted = Aborted();
        thread.Stop();
        // The socket is closed only once the thread is done with it: closed
        // under a connect, its number could be handed to another open in this
        // process before the thread reaches connect. So the connect is made
        // to fail with the socket still open, asked again until the thread
        // ends, as the first request may come before it has reached connect.
        // A system whose connect heeds neither (a socket layered by a third
        // party, say) still has the close, after a second, rather than a hang.
        for (int tries = 0; !thread.Finished() && tries < 200; ++tries) {
            binding_->InterruptBlockedCalls();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (thread.Finished()) {
            thread.WaitFor();
            CloseHandler();
        } else {
            CloseHandler();
            thread.WaitFor();
        }
        if (aborted) throw EIdTransferAborted();
        throw EIdConnectTimeout();
    }
    if (!thread.ConnectErrorText.empty()) {
        if (thread.ConnectErrorNumber != 0)
            throw EIdSocketError(thread.ConnectErrorNumber, thread.ConnectErrorText);
        throw EIdConnectException(thread.ConnectErrorText);
    }
}

bool TIdIOHandlerStack::Aborted() const {
    return TransferWatch && TransferWatch->AbortRequested();
}

bool TIdIOHandlerStack::AwaitReadable(std::int32_t timeLimit) {
    const bool readable = binding_->WaitReadable(timeLimit);
    TIdAntiFreezeBase::DoProcess(!readable);
    return readable;
}
