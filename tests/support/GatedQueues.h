#pragma once

#include "platform/QtQueues.h"

#include <deque>
#include <memory>
#include <mutex>

namespace vellorin::test {

// The real queues, except that recovery runs can be held back: while the gate is closed a
// started recovery stays "running" for as long as the test needs to look at it.
class GatedQueues final : public Queues {
  public:
    explicit GatedQueues(std::shared_ptr<QtQueues> inner) : inner_(std::move(inner)) {}

    void postMain(Task task) override { inner_->postMain(std::move(task)); }
    void background(Task task) override { inner_->background(std::move(task)); }
    void userInitiated(Task task) override {
        std::lock_guard lock(mutex_);
        if (closed_)
            held_.push_back(std::move(task));
        else
            inner_->userInitiated(std::move(task));
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    void open() {
        std::deque<Task> released;
        {
            std::lock_guard lock(mutex_);
            closed_ = false;
            released.swap(held_);
        }
        for (Task& task : released)
            inner_->userInitiated(std::move(task));
    }
    std::size_t held() {
        std::lock_guard lock(mutex_);
        return held_.size();
    }

  private:
    std::shared_ptr<QtQueues> inner_;
    std::mutex mutex_;
    bool closed_ = false;
    std::deque<Task> held_;
};

} // namespace vellorin::test
