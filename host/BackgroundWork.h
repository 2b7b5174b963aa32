#pragma once
// Work that a window runs off its user-interface thread (the download), and
// what the work and the window share while it runs.

#include <atomic>
#include <cstdint>
#include <functional>

class TBackgroundWork {
public:
    // Only a stoppable work's download watches StopRequested: the watch
    // wakes it a few times a second.
    explicit TBackgroundWork(bool stoppable = false) : stoppable_(stoppable) {}
    virtual ~TBackgroundWork() = default;
    bool Stoppable() const { return stoppable_; }

    // Called by the work, on its own thread, as it goes: done bytes of total,
    // total -1 while not known.
    virtual void Progress(std::int64_t /*done*/, std::int64_t /*total*/) {}

    // Set from any thread when the work is to end early (the session ends);
    // a download watching it stops at its next wait.
    std::atomic<bool> StopRequested{false};

private:
    bool stoppable_;
};

using TBackgroundTask = std::function<void(TBackgroundWork& work)>;

// What a window does to run a task: on a thread of its own while the window
// keeps painting and answering the system, ignoring the user's input, and
// returns once the task has ended; raises what the task raised (a task the
// window stopped raises what the stop caused, or EAbort).
class TBackgroundRunner {
public:
    virtual ~TBackgroundRunner() = default;
    virtual void RunInBackground(const TBackgroundTask& task) = 0;
};
