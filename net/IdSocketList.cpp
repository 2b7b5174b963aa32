#include "net/IdSocketList.h"

#include "net/IdExceptionCore.h"

namespace {

[[noreturn]] void SetSizeExceeded() {
    throw EIdStackSetSizeExceeded();
}

} // namespace

std::unique_ptr<TIdSocketList> NewSocketList() {
    return std::make_unique<TIdSocketList>();
}

void TIdSocketList::AddSocket(TIdStackSocketHandle socket) {
    std::lock_guard guard(lock_);
    if (sockets_.Count >= TIdSocketArray::Capacity) SetSizeExceeded();
    sockets_.Handles[sockets_.Count++] = socket;
}

void TIdSocketList::RemoveSocket(TIdStackSocketHandle socket) {
    std::lock_guard guard(lock_);
    for (int i = 0; i < sockets_.Count; ++i) {
        if (sockets_.Handles[i] == socket) {
            sockets_.Handles[i] = sockets_.Handles[sockets_.Count - 1];
            sockets_.Handles[--sockets_.Count] = 0;
            return;
        }
    }
}

void TIdSocketList::ClearSet() {
    std::lock_guard guard(lock_);
    sockets_.Count = 0;
}

int TIdSocketList::SocketCount() const {
    std::lock_guard guard(lock_);
    return sockets_.Count;
}

TIdStackSocketHandle TIdSocketList::SocketAt(int index) const {
    std::lock_guard guard(lock_);
    if (index < 0 || index >= sockets_.Count) SetSizeExceeded();
    return sockets_.Handles[index];
}

bool TIdSocketList::ContainsSocket(TIdStackSocketHandle socket) const {
    std::lock_guard guard(lock_);
    for (int i = 0; i < sockets_.Count; ++i)
        if (sockets_.Handles[i] == socket) return true;
    return false;
}

std::unique_ptr<TIdSocketList> TIdSocketList::CopySet() const {
    auto copy = NewSocketList();
    copy->Assign(Snapshot());
    return copy;
}

TIdSocketArray TIdSocketList::Snapshot() const {
    std::lock_guard guard(lock_);
    return sockets_;
}

void TIdSocketList::Assign(const TIdSocketArray& sockets) {
    std::lock_guard guard(lock_);
    sockets_ = sockets;
}

bool TIdSocketList::WaitReadableFor(int timeoutMs) const {
    TIdSocketArray local = Snapshot();
    TIdStack* stack = CurrentStack();
    stack->CheckSocketResult(stack->WaitForSockets(&local, nullptr, nullptr, timeoutMs));
    return local.Count > 0;
}

bool TIdSocketList::ReadySubset(std::unique_ptr<TIdSocketList>& target, int timeoutMs) const {
    TIdSocketArray local = Snapshot();
    TIdStack* stack = CurrentStack();
    stack->CheckSocketResult(stack->WaitForSockets(&local, nullptr, nullptr, timeoutMs));
    if (local.Count == 0) return false;
    if (!target) target = NewSocketList();
    target->Assign(local);
    return true;
}

bool TIdSocketList::WaitSets(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                             int timeoutMs) {
    TIdSocketArray r, w, e;
    if (read) r = read->Snapshot();
    if (write) w = write->Snapshot();
    if (error) e = error->Snapshot();
    TIdStack* stack = CurrentStack();
    const int ready = stack->CheckSocketResult(stack->WaitForSockets(
        read ? &r : nullptr, write ? &w : nullptr, error ? &e : nullptr, timeoutMs));
    if (read) read->Assign(r);
    if (write) write->Assign(w);
    if (error) error->Assign(e);
    return ready > 0;
}
