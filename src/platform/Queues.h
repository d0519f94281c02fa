#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace vellorin {

// Where work runs: the main thread's event loop and two worker pools. The workflow never
// creates threads of its own; it hands closures to these three queues.
class Queues {
  public:
    using Task = std::function<void()>;
    virtual ~Queues() = default;

    // Runs the task on the main thread, after every task posted before it, one at a time.
    virtual void postMain(Task task) = 0;
    // Posts as postMain does and gives the task's place in the main queue, where the queue
    // numbers its tasks: a task posted later, from any thread, has a higher place.
    virtual std::optional<std::uint64_t> postMainCounted(Task task) {
        postMain(std::move(task));
        return std::nullopt;
    }
    // The place of the last task posted to the main queue, where the queue numbers its tasks.
    virtual std::optional<std::uint64_t> lastMainPost() { return std::nullopt; }
    // Long work the user is waiting for (a recovery run).
    virtual void userInitiated(Task task) = 0;
    // Low-priority work (a scan of the output folder).
    virtual void background(Task task) = 0;
};

} // namespace vellorin
