#pragma once
// A set of up to 64 sockets that can be waited on for readiness. Every operation
// holds the set's lock; a wait copies the set under the lock and waits without it.

#include "net/IdStack.h"

#include <memory>
#include <mutex>

class TIdSocketList {
public:
    TIdSocketList() = default;
    virtual ~TIdSocketList() = default;
    TIdSocketList(const TIdSocketList&) = delete;
    TIdSocketList& operator=(const TIdSocketList&) = delete;

    // Raises EIdStackSetSizeExceeded "Set Size Exceeded." for a 65th socket.
    void AddSocket(TIdStackSocketHandle socket);
    void RemoveSocket(TIdStackSocketHandle socket);
    void ClearSet();
    int SocketCount() const;
    TIdStackSocketHandle SocketAt(int index) const;
    bool ContainsSocket(TIdStackSocketHandle socket) const;
    std::unique_ptr<TIdSocketList> CopySet() const;

    // -2 waits without limit. A failing wait raises the stack's socket error.
    bool WaitReadableFor(int timeoutMs) const;
    // Leaves exactly the ready sockets in target (created when absent).
    bool ReadySubset(std::unique_ptr<TIdSocketList>& target, int timeoutMs) const;
    static bool WaitSets(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                         int timeoutMs);

private:
    TIdSocketArray Snapshot() const;
    void Assign(const TIdSocketArray& sockets);

    mutable std::mutex lock_;
    TIdSocketArray sockets_;
};

std::unique_ptr<TIdSocketList> NewSocketList();
