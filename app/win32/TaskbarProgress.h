#pragma once
// The download's progress on the taskbar button of one window: a bar of the
// bytes so far, indeterminate while the length is not known, red after a
// failure until Clear. Without a taskbar (none running, or a system without
// one) every call does nothing. Reset follows the shell's "TaskbarCreated":
// a new taskbar is asked for and shown the state it missed.

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

class TTaskbarProgress {
public:
    // The taskbar comes from the system when first needed, unless one is
    // given (tests); a given one is released with the object.
    explicit TTaskbarProgress(HWND button, ITaskbarList3* taskbar = nullptr)
        : button_(button), taskbar_(taskbar), asked_(taskbar != nullptr) {}
    ~TTaskbarProgress();
    TTaskbarProgress(const TTaskbarProgress&) = delete;
    TTaskbarProgress& operator=(const TTaskbarProgress&) = delete;

    // total -1: not known.
    void Show(std::int64_t done, std::int64_t total);
    void Failed();
    void Clear();
    void Reset(ITaskbarList3* taskbar = nullptr);

private:
    void Apply();

    HWND button_;
    ITaskbarList3* taskbar_;
    bool asked_; // taskbar_ is what the system gave, or was given
    TBPFLAG state_ = TBPF_NOPROGRESS;
    ULONGLONG done_ = 0;
    ULONGLONG total_ = 0;
};
