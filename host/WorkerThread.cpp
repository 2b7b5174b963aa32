#include "host/WorkerThread.h"

#include "host/Exception.h"

TWorkerThread::TWorkerThread(const TBackgroundTask& task, TBackgroundWork& work,
                             std::function<void()> ended)
    : work_(work), thread_([this, task, ended = std::move(ended)] {
          try {
              task(work_);
          } catch (...) {
              error_ = std::current_exception();
          }
          ended_.store(true, std::memory_order_release);
          ended();
      }) {}

TWorkerThread::~TWorkerThread() {
    if (thread_.joinable()) thread_.join();
}

void TWorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
    if (error_) std::rethrow_exception(error_);
    // A task asked to stop that ended well all the same is not gone on with:
    // what it wrote may be removed already.
    if (work_.StopRequested.load()) throw EAbort();
}
