#include "net/IdComponent.h"

#include "host/Exception.h"

#include <algorithm>
#include <limits>

TIdBaseComponent::TIdBaseComponent(TIdBaseComponent* owner) : owner_(owner) {
    if (owner_) owner_->owned_.push_back(this);
}

TIdBaseComponent::~TIdBaseComponent() {
    // Owned components go first; each removes itself from owned_.
    while (!owned_.empty()) delete owned_.back();
    if (owner_) std::erase(owner_->owned_, this);
    const auto watchers = watchers_;
    for (auto* watcher : watchers) {
        watcher->Notification(this);
        std::erase(watcher->watchers_, this);
    }
}

void TIdBaseComponent::FreeNotification(TIdBaseComponent* watcher) {
    if (!watcher || watcher == this) return;
    if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end())
        watchers_.push_back(watcher);
    // Watching goes both ways so that neither outlives a stale pointer.
    if (std::find(watcher->watchers_.begin(), watcher->watchers_.end(), this) ==
        watcher->watchers_.end())
        watcher->watchers_.push_back(this);
}

void TIdBaseComponent::RemoveFreeNotification(TIdBaseComponent* watcher) {
    if (!watcher) return;
    std::erase(watchers_, watcher);
    std::erase(watcher->watchers_, this);
}

void TIdBaseComponent::Notification(TIdBaseComponent*) {}

std::string StatusTemplate(TIdStatus status) {
    switch (status) {
    case hsResolving:
        return "Resolving hostname %s.";
    case hsConnecting:
        return "Connecting to %s.";
    case hsConnected:
        return "Connected.";
    case hsDisconnecting:
        return "Disconnecting.";
    case hsDisconnected:
        return "Disconnected.";
    default:
        return "%s";
    }
}

TIdComponent::TIdComponent(TIdBaseComponent* owner) : TIdBaseComponent(owner) {}

TIdComponent::~TIdComponent() = default;

void TIdComponent::NotifyStatus(TIdStatus status, const std::vector<std::string>& arguments) {
    if (!OnStatus) return;
    std::string text = StatusTemplate(status);
    const auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, arguments.empty() ? std::string() : arguments.front());
    OnStatus(this, status, text);
}

namespace {

// The events count in 32 bits: a larger count is handed on as the largest they
// can carry (the record keeps the true one), so that watching the progress of
// a transfer above 2 GiB cannot make it fail.
std::int32_t EventCount(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

void TIdComponent::StartWork(TWorkMode mode, std::int64_t total) {
    if (ProgressTarget) return ProgressTarget->StartWork(mode, total);
    WorkRecord& record = work_[mode];
    if (record.Depth == 0) {
        const std::int32_t announced = EventCount(total);
        record.Total = total;
        record.Done = 0;
        ++record.Depth;
        // A handler that raises (an abort) has not begun the work: the caller
        // sees the error instead and never finishes it.
        try {
            if (OnWorkBegin) OnWorkBegin(this, mode, announced);
        } catch (...) {
            --record.Depth;
            throw;
        }
    } else {
        ++record.Depth;
    }
}

void TIdComponent::AddWork(TWorkMode mode, std::int64_t count) {
    if (ProgressTarget) return ProgressTarget->AddWork(mode, count);
    WorkRecord& record = work_[mode];
    if (record.Depth < 1) return;
    record.Done += count;
    if (OnWork) OnWork(this, mode, EventCount(record.Done));
}

void TIdComponent::FinishWork(TWorkMode mode) {
    if (ProgressTarget) return ProgressTarget->FinishWork(mode);
    WorkRecord& record = work_[mode];
    // Ended before the handler runs, so one that raises leaves no work open.
    if (record.Depth < 1) return;
    if (--record.Depth == 0 && OnWorkEnd) OnWorkEnd(this, mode);
}
