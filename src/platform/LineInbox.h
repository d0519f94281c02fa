#pragma once

#include "platform/Queues.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

namespace vellorin {

// Lines written from any thread and read on the main thread in batches, in exactly the order
// of the main queue. The text of every line waiting is kept in one buffer that is reused,
// never freed: a flood of lines from a worker, each in a task of its own, made the main thread
// free memory that the worker's allocator had handed out, and wait for that allocator's lock
// while the worker held it (tens of milliseconds at a time on two cores).
//
// A line joins the batch of the last delivery posted when nothing else was posted to the main
// queue since, so every task posted before a line runs before it is delivered and every task
// posted after it runs after. Where the queue does not count its tasks, each line has a
// delivery of its own.
class LineInbox {
  public:
    // Lines in one delivery at most: the main thread's turn stays short.
    static constexpr qsizetype kLinesPerDelivery = 256;

    // Any thread. `delivery()` makes the task that calls `deliver` on the main thread.
    template <typename MakeDelivery> void add(QStringView line, Queues& queues, MakeDelivery&& delivery) {
        std::lock_guard lock(mutex_);
        text_.append(line);
        ends_.push_back(text_.size());
        if (batchesHead_ < batches_.size()) {
            Batch& last = batches_.back();
            const std::optional<std::uint64_t> lastPost = queues.lastMainPost();
            if (lastPost && last.posted == *lastPost && last.lines < kLinesPerDelivery) {
                ++last.lines;
                return;
            }
        }
        // Posted under the lock: no line can join this batch before its place is known.
        batches_.push_back({1, kNotCounted});
        batches_.back().posted = queues.postMainCounted(delivery()).value_or(kNotCounted);
    }

    // Main thread, from a delivery: hands the lines of the oldest batch to `each`, in order.
    template <typename Each> void deliver(Each&& each) {
        {
            std::lock_guard lock(mutex_);
            if (batchesHead_ == batches_.size())
                return;
            const std::size_t count = std::size_t(batches_[batchesHead_++].lines);
            const qsizetype end = ends_[endsHead_ + count - 1];
            taken_.resize(0);
            taken_.append(QStringView(text_).mid(head_, end - head_));
            takenEnds_.clear();
            for (std::size_t i = endsHead_; i < endsHead_ + count; ++i)
                takenEnds_.push_back(ends_[i] - head_);
            endsHead_ += count;
            head_ = end;
            if (batchesHead_ == batches_.size()) {
                // All read: the buffers keep their room for the next lines.
                text_.resize(0);
                ends_.clear();
                batches_.clear();
                endsHead_ = batchesHead_ = 0;
                head_ = 0;
            } else if (head_ > text_.size() / 2) {
                // What was read goes once it is most of the buffer: each line moves at most
                // once more.
                text_.remove(0, head_);
                ends_.erase(ends_.begin(), ends_.begin() + std::ptrdiff_t(endsHead_));
                for (qsizetype& e : ends_)
                    e -= head_;
                batches_.erase(batches_.begin(), batches_.begin() + std::ptrdiff_t(batchesHead_));
                endsHead_ = batchesHead_ = 0;
                head_ = 0;
            }
        }
        qsizetype start = 0;
        for (const qsizetype end : takenEnds_) {
            each(QStringView(taken_).mid(start, end - start));
            start = end;
        }
    }

  private:
    static constexpr std::uint64_t kNotCounted = std::numeric_limits<std::uint64_t>::max();
    struct Batch {
        qsizetype lines;
        // The delivery's place in the main queue.
        std::uint64_t posted;
    };

    std::mutex mutex_;
    QString text_;
    // Where each waiting line ends in text_; those before endsHead_ were read.
    std::vector<qsizetype> ends_;
    std::size_t endsHead_ = 0;
    qsizetype head_ = 0;
    std::vector<Batch> batches_;
    std::size_t batchesHead_ = 0;
    // Main thread only.
    QString taken_;
    std::vector<qsizetype> takenEnds_;
};

} // namespace vellorin
