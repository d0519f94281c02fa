#pragma once

#include "platform/Queues.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace vellorin {

// Items made on a worker, handed to the main thread a few times a second rather than one post
// each: a copy of twenty thousand small files would otherwise wake the window twenty thousand
// times, and every wake-up redraws, re-counts and tells the accessibility bridge. The first
// item after a quiet spell goes at once, later ones wait at most one interval, however long the
// worker then stalls on a slow file. A delivery holds at most a bounded number of items, the
// rest following in the next turns of the event loop, so that a burst never holds up a paint.
// Made with make(); main-thread delivery, any-thread add().
template <typename Item>
class MainThreadBatches : public std::enable_shared_from_this<MainThreadBatches<Item>> {
  public:
    using Deliver = std::function<void(std::vector<Item>)>;

    static std::shared_ptr<MainThreadBatches> make(std::shared_ptr<Queues> queues,
                                                   std::chrono::milliseconds interval,
                                                   std::size_t mostPerDelivery, Deliver deliver) {
        return std::shared_ptr<MainThreadBatches>(
            new MainThreadBatches(std::move(queues), interval, mostPerDelivery, std::move(deliver)));
    }

    // Any thread.
    void add(Item item) {
        bool schedule = false;
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(item));
            schedule = !scheduled_;
            scheduled_ = true;
        }
        if (schedule)
            queues_->postMain([self = this->shared_from_this()] { self->schedule(); });
    }

    // Any thread: what was added so far reaches the main thread, in bounded pieces like any
    // burst, and then `then` runs there, so that a run's last files are listed before its
    // summary without one long turn of the event loop.
    void flush(std::function<void()> then) {
        queues_->postMain([self = this->shared_from_this(), then = std::move(then)]() mutable {
            self->deliver(std::move(then));
        });
    }

  private:
    MainThreadBatches(std::shared_ptr<Queues> queues, std::chrono::milliseconds interval,
                      std::size_t mostPerDelivery, Deliver deliver)
        : queues_(std::move(queues)), interval_(interval), mostPerDelivery_(mostPerDelivery),
          deliver_(std::move(deliver)) {}

    void schedule() {
        const auto since = std::chrono::steady_clock::now() - lastDelivery_;
        if (since >= interval_) {
            deliver();
            return;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(interval_ - since);
        // Through the main queue like every other hand-over, so that its order and its cost
        // are the queue's to see.
        QTimer::singleShot(wait, Qt::PreciseTimer, [self = this->shared_from_this()] {
            self->queues_->postMain([self] { self->deliver(); });
        });
    }

    // One piece; the rest, and then `then`, in the next turns.
    void deliver(std::function<void()> then = {}) {
        auto [items, more] = take();
        if (more)
            queues_->postMain([self = this->shared_from_this(), then = std::move(then)]() mutable {
                self->deliver(std::move(then));
            });
        hand(std::move(items));
        if (!more && then)
            then();
    }

    // The next piece, and whether more is left after it (a delivery then stays on its way).
    std::pair<std::vector<Item>, bool> take() {
        std::vector<Item> items;
        std::lock_guard lock(mutex_);
        if (items_.size() <= mostPerDelivery_) {
            items.swap(items_);
            scheduled_ = false;
            return {std::move(items), false};
        }
        const auto split = items_.begin() + static_cast<std::ptrdiff_t>(mostPerDelivery_);
        items.assign(std::make_move_iterator(items_.begin()), std::make_move_iterator(split));
        items_.erase(items_.begin(), split);
        return {std::move(items), true};
    }

    void hand(std::vector<Item> items) {
        if (items.empty())
            return;
        lastDelivery_ = std::chrono::steady_clock::now();
        deliver_(std::move(items));
    }

    std::shared_ptr<Queues> queues_;
    const std::chrono::milliseconds interval_;
    const std::size_t mostPerDelivery_;
    Deliver deliver_;
    std::mutex mutex_;
    std::vector<Item> items_;                              // guarded by mutex_
    bool scheduled_ = false;                               // guarded by mutex_: a delivery is on its way
    std::chrono::steady_clock::time_point lastDelivery_{}; // main thread
};

} // namespace vellorin
