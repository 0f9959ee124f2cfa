#include "vemo/core/ThreadPool.h"

#include "vemo/core/Logger.h"

#include <exception>
#include <stdexcept>

namespace vemo {

ThreadPool& ThreadPool::instance() {
    static ThreadPool pool;
    return pool;
}

ThreadPool::~ThreadPool() {
    shutdown();
    // Entries still queued here were never reachable by a worker (the pool
    // never had any); their tasks are destroyed unrun with the queue.
}

void ThreadPool::init(int threadCount) {
    if (threadCount < 1) {
        throw std::invalid_argument("threadCount must be greater than 0");
    }
    if (!threads_.empty()) {
        throw std::runtime_error("ThreadPool already initialized");
    }
    threads_.reserve(static_cast<std::size_t>(threadCount));
    for (int i = 0; i < threadCount; ++i) {
        threads_.emplace_back([this] { workerLoop(); });
    }
}

void ThreadPool::shutdown() {
    {
        std::lock_guard guard(lock_);
        if (stop_) {
            return;
        }
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : threads_) {
        worker.join();
    }
}

void ThreadPool::enqueue(std::unique_ptr<ITask> task, std::weak_ptr<void> lifetime, bool hasLifetime) {
    {
        std::lock_guard guard(lock_);
        if (stop_) {
            // The task (and the callable in it) is destroyed after the
            // guard has released the lock, so its destructor may safely
            // touch the pool.
            throw std::runtime_error("ThreadPool is stopped");
        }
        queue_.push_back(QueueEntry{std::move(lifetime), std::move(task), hasLifetime});
    }
    wake_.notify_one();
}

void ThreadPool::workerLoop() {
    std::unique_lock guard(lock_);
    for (;;) {
        // At shutdown the queue is drained before the worker leaves.
        wake_.wait(guard, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }

        QueueEntry& front = queue_.front();
        // The guard is tested once, here: a widget that dies while its task
        // runs does not stop the task.
        const bool runnable = !front.hasLifetime || !front.lifetime.expired();
        std::unique_ptr<ITask> task = std::move(front.task);
        queue_.pop_front();
        guard.unlock();

        if (runnable) {
            // A task that throws would otherwise end the whole process from
            // this thread; log it and keep serving the queue instead.
            try {
                task->run();
            } catch (const std::exception& e) {
                Logger::log(LogLevel::Error, "Task on the thread pool failed: {}", e.what());
            } catch (...) {
                Logger::log(LogLevel::Error, "Task on the thread pool failed with an unknown exception");
            }
        }
        // Destroy the task (run or dropped) without holding the lock: its
        // callable may own objects whose destructors submit new work.
        task.reset();
        guard.lock();
    }
}

}  // namespace vemo
