#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace vellorin {

// A serial queue drained on the main thread. Tasks run in the order posted and never
// overlap, even when a task spins a nested event loop (a modal alert): the nested loop
// keeps painting, but the queue waits for the running task to return.
//
// The drain yields to the event loop after a few milliseconds, so a worker that posts
// a hundred thousand updates in a burst cannot stall painting and input.
class MainQueue : public QObject {
    Q_OBJECT
  public:
    explicit MainQueue(QObject* parent = nullptr);
    ~MainQueue() override;

    // Returns the task's place: tasks are numbered in the order posted.
    std::uint64_t post(std::function<void()> task);
    // The place of the last task posted.
    std::uint64_t lastPost();
    // Tasks posted and not yet finished.
    std::size_t pending();

  private:
    void scheduleDrain();
    void drain();

    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    bool drainScheduled_ = false;
    bool draining_ = false; // main thread only
    std::size_t running_ = 0;
    std::uint64_t posts_ = 0;
};

} // namespace vellorin
