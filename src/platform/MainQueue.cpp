#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>

namespace vellorin {

namespace {
// Short enough that a turn of the event loop which also paints and draws the log stays well
// within 50 ms on a busy two-core machine.
constexpr qint64 kDrainBudgetNs = 2'000'000;
} // namespace

MainQueue::MainQueue(QObject* parent) : QObject(parent) {}

MainQueue::~MainQueue() = default;

std::uint64_t MainQueue::post(std::function<void()> task) {
    bool schedule = false;
    std::uint64_t place = 0;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        place = ++posts_;
        if (!drainScheduled_) {
            drainScheduled_ = true;
            schedule = true;
        }
    }
    if (schedule)
        scheduleDrain();
    return place;
}

std::uint64_t MainQueue::lastPost() {
    std::lock_guard lock(mutex_);
    return posts_;
}

std::size_t MainQueue::pending() {
    std::lock_guard lock(mutex_);
    return tasks_.size() + running_;
}

void MainQueue::scheduleDrain() {
    QMetaObject::invokeMethod(this, &MainQueue::drain, Qt::QueuedConnection);
}

void MainQueue::drain() {
    if (draining_) {
        // Reached from a nested event loop inside a running task. Keep the queue serial;
        // the outer drain reschedules when that task returns.
        return;
    }
    draining_ = true;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                drainScheduled_ = false;
                break;
            }
            if (clock.nsecsElapsed() > kDrainBudgetNs) {
                // Let paint, input and timers have a turn before the rest.
                draining_ = false;
                scheduleDrain();
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
            ++running_;
        }
        task();
        task = nullptr;
        std::lock_guard lock(mutex_);
        --running_;
    }
    draining_ = false;
}

} // namespace vellorin
