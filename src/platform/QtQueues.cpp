#include "platform/QtQueues.h"

#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QThread>

namespace vellorin {

// A recovery blocks its worker for the whole run, so one run must never wait behind another.
QtQueues::QtQueues()
    : main_(std::make_unique<MainQueue>()), userInitiated_(8, WorkerPool::Priority::Normal),
      background_(std::max(2, QThread::idealThreadCount()), WorkerPool::Priority::Low) {
    if (auto* app = QCoreApplication::instance())
        main_->moveToThread(app->thread());
}

QtQueues::~QtQueues() = default;

void QtQueues::postMain(Task task) {
    main_->post(std::move(task));
}

std::optional<std::uint64_t> QtQueues::postMainCounted(Task task) {
    return main_->post(std::move(task));
}

std::optional<std::uint64_t> QtQueues::lastMainPost() {
    return main_->lastPost();
}

void QtQueues::userInitiated(Task task) {
    userInitiated_.submit(std::move(task));
}

void QtQueues::background(Task task) {
    background_.submit(std::move(task));
}

std::size_t QtQueues::pendingMainTasks() {
    return main_->pending();
}

void QtQueues::waitForWorkers() {
    userInitiated_.waitForIdle();
    background_.waitForIdle();
}

} // namespace vellorin
