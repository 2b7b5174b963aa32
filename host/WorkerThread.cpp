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
    // A task stopped on purpose ends in whatever error the stop caused: the
    // window that stopped it shows nothing for it.
    if (work_.StopRequested.load()) throw EAbort();
    if (error_) std::rethrow_exception(error_);
}
