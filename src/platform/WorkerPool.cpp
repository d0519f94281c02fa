#include "platform/WorkerPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace vellorin {

struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::function<void()>> tasks;
    int threads = 0;
    int waiting = 0;
    int running = 0;
    int maxThreads = 1;
    Priority priority = Priority::Normal;
    bool stopping = false;
};

namespace {

void workerLoop(const std::shared_ptr<WorkerPool::State>& state);

} // namespace

WorkerPool::WorkerPool(int maxThreads, Priority priority) : state_(std::make_shared<State>()) {
    state_->maxThreads = std::max(1, maxThreads);
    state_->priority = priority;
}

WorkerPool::~WorkerPool() {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
}

void WorkerPool::submit(std::function<void()> task) {
    std::lock_guard lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
    if (state_->waiting > 0) {
        state_->wake.notify_one();
    } else if (state_->threads < state_->maxThreads) {
        ++state_->threads;
        std::thread([state = state_] { workerLoop(state); }).detach();
    }
}

void WorkerPool::waitForIdle() {
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [&] { return state_->tasks.empty() && state_->running == 0; });
}

namespace {

void workerLoop(const std::shared_ptr<WorkerPool::State>& state) {
    // Below the window's own threads (the main thread and the toolkit's helpers that share
    // out large fills while it waits): a copy or a flood of engine output on both processors
    // otherwise took them from the window for tens of milliseconds at a time. Linux applies a
    // nice value per thread when given the thread's id; it weighs our threads against each
    // other, and against programs outside the application's scheduling group hardly at all.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()),
                      state->priority == WorkerPool::Priority::Low ? 10 : 5);
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (state->tasks.empty()) {
            if (state->stopping)
                break;
            ++state->waiting;
            state->wake.wait(lock, [&] { return !state->tasks.empty() || state->stopping; });
            --state->waiting;
            continue;
        }
        auto task = std::move(state->tasks.front());
        state->tasks.pop_front();
        ++state->running;
        lock.unlock();
        task();
        task = nullptr; // what the task captured is released before it counts as done
        lock.lock();
        --state->running;
        if (state->tasks.empty() && state->running == 0)
            state->idle.notify_all();
    }
    --state->threads;
}

} // namespace

} // namespace vellorin
