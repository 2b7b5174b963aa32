#pragma once
// Runs an action when the scope ends, however it ends: the restore of a value
// set for a while, the end of a bounded stretch. The action must not raise.

#include <utility>

template <typename TAction> class TScopeExit {
public:
    explicit TScopeExit(TAction action) : action_(std::move(action)) {}
    ~TScopeExit() { action_(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    TAction action_;
};
