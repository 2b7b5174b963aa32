#pragma once
// The default handler: resolves and connects its socket, with or without a
// connect time limit, and waits for readability on the socket handle.

#include "net/IdIOHandlerSocket.h"

#include <atomic>
#include <string>
#include <thread>

// Runs one blocking connect for ConnectWithTimeout. The error fields are
// written before the stop flag, and read only after it is seen.
class TIdConnectThread {
public:
    explicit TIdConnectThread(TIdSocketHandle& binding);
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start();
    void WaitFor();
    bool Stopped() const { return stopped_.load(std::memory_order_acquire); }
    void Stop() { stopped_.store(true, std::memory_order_release); }
    // Set as the thread's very last act, whoever set the stop flag.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

    std::string ConnectErrorText;
    int ConnectErrorNumber = 0;

private:
    void Run();

    TIdSocketHandle& binding_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
    explicit TIdIOHandlerStack(TIdBaseComponent* owner = nullptr);

    void ConnectSocket() override;
    bool AwaitReadable(std::int32_t timeLimit) override;

protected:
    virtual void ConnectWithTimeout(std::int32_t limit);

private:
    // The connect, bounded by ConnectTimeout and by the transfer's bounds;
    // an abort ends it too, with EIdTransferAborted.
    void ConnectWithinTransfer();
    bool Aborted() const;
};
