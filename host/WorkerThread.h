#pragma once
// One task on a thread of its own, whatever it raises kept for the thread
// that waits for it.

#include "host/BackgroundWork.h"

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

class TWorkerThread {
public:
    // Starts task(work) at once; ended runs on the worker as its last act,
    // to wake whoever waits. work must outlive the object.
    TWorkerThread(const TBackgroundTask& task, TBackgroundWork& work, std::function<void()> ended);
    // Waits for the task: a thread is never left running on its own.
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Waits for the task to end; raises what it raised, or EAbort when it
    // was asked to stop and ended well all the same.
    void Join();

private:
    std::exception_ptr error_;
    std::atomic<bool> ended_{false};
    TBackgroundWork& work_;
    std::thread thread_;
};
