#pragma once

#include "platform/Queues.h"
#include "platform/WorkerPool.h"

#include <memory>

namespace vellorin {

class MainQueue;

// The production queues: a serial queue drained by the main thread's event loop, a pool
// for recovery runs and a low-priority pool for folder scans.
class QtQueues final : public Queues {
  public:
    QtQueues();
    ~QtQueues() override;

    void postMain(Task task) override;
    std::optional<std::uint64_t> postMainCounted(Task task) override;
    std::optional<std::uint64_t> lastMainPost() override;
    void userInitiated(Task task) override;
    void background(Task task) override;

    // Blocks until both pools are idle (tests, benchmarks).
    void waitForWorkers();
    // Main-queue tasks posted and not yet finished (tests, benchmarks).
    std::size_t pendingMainTasks();

  private:
    std::unique_ptr<MainQueue> main_;
    WorkerPool userInitiated_;
    WorkerPool background_;
};

} // namespace vellorin
