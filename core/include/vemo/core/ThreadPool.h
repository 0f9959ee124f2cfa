// The worker pool that keeps blocking work (every call into the PLC client)
// off the UI thread. Tasks run first in, first out; with the one worker the
// start-up creates, they run one after another in submission order.
//
// A task may be guarded by a lifetime token of whoever submitted it (in the
// program, the submitting widget's lifetime()): if its owner is gone by the
// time the task reaches the front of the queue, the task is dropped unrun.
// Tasks hand their results back to the UI thread themselves; the pool
// returns nothing.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace vemo {

class ThreadPool {
public:
    class ITask {
    public:
        virtual ~ITask() = default;
        virtual void run() = 0;
    };

    // Holds one callable, moved in at submission, and invokes it once.
    template <typename F>
    class PackagedTask final : public ITask {
    public:
        explicit PackagedTask(F&& f) : callable_(std::move(f)) {}
        explicit PackagedTask(const F& f) : callable_(f) {}
        void run() override { callable_(); }

    private:
        F callable_;
    };

    // The process-wide pool; stopped and joined at process exit.
    static ThreadPool& instance();

    ThreadPool() = default;
    // Stops the pool if shutdown() has not: workers finish every queued
    // task (unless its guard has expired) and are joined.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Starts `threadCount` workers. Throws std::invalid_argument
    // "threadCount must be greater than 0" for a count below 1 (checked
    // first), std::runtime_error "ThreadPool already initialized" when
    // workers exist, and std::system_error when a thread cannot be created
    // (workers started before that keep running).
    void init(int threadCount);

    // Queues an unguarded task. Throws std::runtime_error
    // "ThreadPool is stopped" after shutdown; the callable is destroyed then.
    template <typename F>
    void submit(F&& f) {
        enqueue(makeTask(std::forward<F>(f)), {}, false);
    }

    // Queues a task that runs only if `lifetime` has not expired when the
    // task reaches the front of the queue. An empty token counts as expired.
    template <typename F>
    void submit(std::weak_ptr<void> lifetime, F&& f) {
        enqueue(makeTask(std::forward<F>(f)), std::move(lifetime), true);
    }

    // Stops accepting tasks, lets the workers drain the queue and joins
    // them. Idempotent. Must not be called from a task.
    void shutdown();

private:
    struct QueueEntry {
        std::weak_ptr<void> lifetime;
        std::unique_ptr<ITask> task;
        bool hasLifetime = false;
    };

    template <typename F>
    static std::unique_ptr<ITask> makeTask(F&& f) {
        return std::make_unique<PackagedTask<std::decay_t<F>>>(std::forward<F>(f));
    }

    void enqueue(std::unique_ptr<ITask> task, std::weak_ptr<void> lifetime, bool hasLifetime);
    void workerLoop();

    std::deque<QueueEntry> queue_;
    std::vector<std::thread> threads_;
    std::mutex lock_;
    bool stop_ = false;
    std::condition_variable wake_;
};

}  // namespace vemo
