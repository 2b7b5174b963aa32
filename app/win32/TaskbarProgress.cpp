#include "app/win32/TaskbarProgress.h"

#include <algorithm>

namespace {

ITaskbarList3* SystemTaskbar() {
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskbarList3, reinterpret_cast<void**>(&taskbar))))
        return nullptr;
    if (FAILED(taskbar->HrInit())) {
        taskbar->Release();
        return nullptr;
    }
    return taskbar;
}

} // namespace

TTaskbarProgress::~TTaskbarProgress() {
    if (taskbar_) taskbar_->Release();
}

void TTaskbarProgress::Reset(ITaskbarList3* taskbar) {
    if (taskbar_) taskbar_->Release();
    taskbar_ = taskbar;
    asked_ = taskbar != nullptr;
    if (state_ != TBPF_NOPROGRESS) Apply();
}

void TTaskbarProgress::Show(std::int64_t done, std::int64_t total) {
    const bool known = total > 0 && done >= 0;
    state_ = known ? TBPF_NORMAL : TBPF_INDETERMINATE;
    total_ = known ? static_cast<ULONGLONG>(total) : 0;
    done_ = known ? static_cast<ULONGLONG>(std::min(done, total)) : 0;
    Apply();
}

void TTaskbarProgress::Failed() {
    // A bar with no length yet shows the failure full.
    if (state_ != TBPF_NORMAL) done_ = total_ = 1;
    state_ = TBPF_ERROR;
    Apply();
}

void TTaskbarProgress::Clear() {
    if (state_ == TBPF_NOPROGRESS) return;
    state_ = TBPF_NOPROGRESS;
    Apply();
}

void TTaskbarProgress::Apply() {
    if (!asked_) {
        taskbar_ = SystemTaskbar();
        asked_ = true;
    }
    if (!taskbar_) return;
    // The value first: setting one ends an indeterminate bar, and the state
    // set after it stands.
    if (state_ == TBPF_NORMAL || state_ == TBPF_ERROR)
        taskbar_->SetProgressValue(button_, done_, total_);
    taskbar_->SetProgressState(button_, state_);
}
