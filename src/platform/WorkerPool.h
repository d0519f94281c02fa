#pragma once

#include <functional>
#include <memory>

namespace vellorin {

// A pool of worker threads that grows on demand up to a limit. Built on the standard
// library so that every hand-over is visible to ThreadSanitizer.
//
// Threads are detached: a worker blocked in an engine run must not hold up the
// application's exit, since quitting never stops the engine.
class WorkerPool {
  public:
    enum class Priority { Normal, Low };

    WorkerPool(int maxThreads, Priority priority);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> task);
    // Blocks until no task is queued or running.
    void waitForIdle();

    struct State; // shared with the detached threads

  private:
    std::shared_ptr<State> state_;
};

} // namespace vellorin
