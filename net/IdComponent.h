#pragma once
// Base of every network component: optional owner, destruction watchers, a
// socket-stack reference held for the component's life, status notification
// and work-progress bookkeeping.

#include "net/IdStack.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TIdStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum TWorkMode { wmRead = 0, wmWrite = 1 };

class TIdBaseComponent {
public:
    // A component given an owner must be made with new: the owner deletes it
    // when it goes, unless it was deleted before.
    explicit TIdBaseComponent(TIdBaseComponent* owner = nullptr);
    virtual ~TIdBaseComponent();
    TIdBaseComponent(const TIdBaseComponent&) = delete;
    TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;

    TIdBaseComponent* Owner() const { return owner_; }
    // The watcher's Notification runs when this component is destroyed.
    void FreeNotification(TIdBaseComponent* watcher);
    void RemoveFreeNotification(TIdBaseComponent* watcher);

protected:
    // Called on a watcher while a watched component is being destroyed.
    virtual void Notification(TIdBaseComponent* component);

private:
    TIdBaseComponent* owner_;
    std::vector<TIdBaseComponent*> owned_;
    std::vector<TIdBaseComponent*> watchers_;
};

class TIdComponent : public TIdBaseComponent {
public:
    using TStatusEvent =
        std::function<void(TIdComponent* sender, TIdStatus status, const std::string& text)>;
    using TWorkBeginEvent =
        std::function<void(TIdComponent* sender, TWorkMode mode, std::int32_t countMax)>;
    using TWorkEvent =
        std::function<void(TIdComponent* sender, TWorkMode mode, std::int32_t count)>;
    using TWorkEndEvent = std::function<void(TIdComponent* sender, TWorkMode mode)>;

    struct WorkRecord {
        std::int64_t Done = 0;
        std::int64_t Total = 0;
        std::int32_t Depth = 0;
    };

    explicit TIdComponent(TIdBaseComponent* owner = nullptr);
    ~TIdComponent() override;

    // Formats the status template only when a handler is set.
    void NotifyStatus(TIdStatus status, const std::vector<std::string>& arguments = {});
    void StartWork(TWorkMode mode, std::int64_t total);
    void AddWork(TWorkMode mode, std::int64_t count);
    void FinishWork(TWorkMode mode);
    const WorkRecord& Work(TWorkMode mode) const { return work_[mode]; }

    TStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;
    // When set, progress calls go to this component instead.
    TIdComponent* ProgressTarget = nullptr;

private:
    TIdStackReference stack_;
    WorkRecord work_[2];
};

std::string StatusTemplate(TIdStatus status);
