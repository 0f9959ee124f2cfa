// The worker pool: start-up errors, first-in-first-out order, tasks dropped
// when their widget is gone, and a shutdown that drains the queue.
#include "vemo/core/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using vemo::ThreadPool;

// Holds a worker inside a task until the test lets it go.
class Gate {
public:
    // The task to submit: reports that it runs, then waits for open().
    auto task() {
        return [this] {
            {
                std::lock_guard guard(mutex_);
                entered_ = true;
            }
            changed_.notify_all();
            std::unique_lock guard(mutex_);
            changed_.wait(guard, [this] { return open_; });
        };
    }
    void waitUntilEntered() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [this] { return entered_; });
    }
    void open() {
        {
            std::lock_guard guard(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool open_ = false;
};

// Records which tasks ran, in order. Read only after the workers are joined.
struct RunLog {
    std::mutex mutex;
    std::vector<std::string> ran;
    void add(std::string what) {
        std::lock_guard guard(mutex);
        ran.push_back(std::move(what));
    }
};

// The message of the exception of type E that f throws, or "" if none.
template <typename E, typename F>
std::string messageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}

TEST(ThreadPoolInit, RefusesBadCountsAndASecondStart) {
    ThreadPool pool;
    for (int count : {0, -1, INT_MIN}) {
        EXPECT_EQ(messageOf<std::invalid_argument>([&] { pool.init(count); }), "threadCount must be greater than 0")
            << count;
    }

    pool.init(1);
    // The count is checked before the "already running" test.
    for (int count : {0, -1}) {
        EXPECT_EQ(messageOf<std::invalid_argument>([&] { pool.init(count); }), "threadCount must be greater than 0")
            << count;
    }
    EXPECT_EQ(messageOf<std::runtime_error>([&] { pool.init(1); }), "ThreadPool already initialized");

    // The first worker is still serving the queue.
    Gate gate;
    pool.submit(gate.task());
    gate.waitUntilEntered();
    gate.open();
}

TEST(ThreadPoolOrder, TasksRunInSubmissionOrderAndSubmitNeverWaitsForARunningTask) {
    ThreadPool pool;
    pool.init(1);
    Gate gate;
    pool.submit(gate.task());
    gate.waitUntilEntered();

    // The worker is stuck in the gate; every submission still returns.
    std::vector<int> order;
    std::atomic<int> started{0};
    for (int i = 0; i < 100; ++i) {
        pool.submit([&order, &started, i] {
            ++started;
            order.push_back(i);
        });
    }
    // A move-only callable is moved into the queue.
    auto owned = std::make_unique<int>(100);
    pool.submit([&order, owned = std::move(owned)] { order.push_back(*owned); });
    EXPECT_EQ(started.load(), 0);

    gate.open();
    pool.shutdown();
    std::vector<int> expected(101);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(ThreadPoolLifetime, GuardedTaskRunsOnlyWhileItsWidgetLives) {
    ThreadPool pool;
    pool.init(1);
    Gate gate;
    pool.submit(gate.task());
    gate.waitUntilEntered();

    RunLog log;
    auto liveWidget = std::make_shared<int>(1);
    auto deadWidget = std::make_shared<int>(2);
    // Each callable owns a marker; the marker expiring shows the callable
    // was destroyed, run or not.
    auto liveMarker = std::make_shared<int>(0);
    auto deadMarker = std::make_shared<int>(0);
    auto emptyMarker = std::make_shared<int>(0);
    std::weak_ptr<int> liveSeen = liveMarker, deadSeen = deadMarker, emptySeen = emptyMarker;

    pool.submit(std::weak_ptr<void>(liveWidget), [&log, m = std::move(liveMarker)] { log.add("live"); });
    pool.submit(std::weak_ptr<void>(deadWidget), [&log, m = std::move(deadMarker)] { log.add("dead"); });
    pool.submit(std::weak_ptr<void>(), [&log, m = std::move(emptyMarker)] { log.add("empty token"); });
    pool.submit([&log] { log.add("unguarded"); });
    // The widget goes away after submission but before its task reaches
    // the front of the queue.
    deadWidget.reset();

    gate.open();
    pool.shutdown();
    EXPECT_EQ(log.ran, (std::vector<std::string>{"live", "unguarded"}));
    EXPECT_TRUE(liveSeen.expired());
    EXPECT_TRUE(deadSeen.expired());
    EXPECT_TRUE(emptySeen.expired());
}

TEST(ThreadPoolShutdown, DrainsEveryTaskQueuedBeforeTheStopThenRefusesMore) {
    ThreadPool pool;
    pool.init(1);
    Gate gate;
    pool.submit(gate.task());
    gate.waitUntilEntered();

    std::atomic<int> ran{0};
    std::atomic<bool> expiredRan{false};
    for (int i = 0; i < 5; ++i) pool.submit([&ran] { ++ran; });
    auto widget = std::make_shared<int>(0);
    pool.submit(std::weak_ptr<void>(widget), [&expiredRan] { expiredRan = true; });
    widget.reset();

    // Stop while the worker is still blocked and the queue is full. Keep
    // submitting until the pool refuses: then the stop flag is set, and
    // every task accepted so far must still run.
    std::thread stopper([&pool] { pool.shutdown(); });
    int accepted = 5;
    std::string refusal;
    while (refusal.empty()) {
        refusal = messageOf<std::runtime_error>([&] { pool.submit([&ran] { ++ran; }); });
        if (refusal.empty()) {
            ++accepted;
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(refusal, "ThreadPool is stopped");

    gate.open();
    stopper.join();
    EXPECT_EQ(ran.load(), accepted);
    EXPECT_FALSE(expiredRan.load());

    // Refused submissions queue nothing and destroy the callable.
    auto marker = std::make_shared<int>(0);
    std::weak_ptr<int> seen = marker;
    EXPECT_EQ(messageOf<std::runtime_error>([&] { pool.submit([&ran, m = std::move(marker)] { ++ran; }); }),
              "ThreadPool is stopped");
    EXPECT_EQ(messageOf<std::runtime_error>([&] { pool.submit(std::weak_ptr<void>(), [] {}); }),
              "ThreadPool is stopped");
    EXPECT_TRUE(seen.expired());
    EXPECT_EQ(ran.load(), accepted);
    pool.shutdown();  // a second stop does nothing
}

TEST(ThreadPoolShutdown, DestructorJoinsAfterDraining) {
    std::atomic<int> ran{0};
    {
        ThreadPool pool;
        pool.init(2);
        for (int i = 0; i < 200; ++i) pool.submit([&ran] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 200);
}

TEST(ThreadPoolShutdown, EveryIdleWorkerWakesUpAndLeaves) {
    // Workers asleep on an empty queue must all be woken by the stop; one
    // left asleep would hang the join (and this test, until its time-out).
    ThreadPool pool;
    pool.init(4);
    // Give the workers time to fall asleep; nothing is measured.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pool.shutdown();
    EXPECT_EQ(messageOf<std::runtime_error>([&] { pool.submit([] {}); }), "ThreadPool is stopped");
}

TEST(ThreadPoolShutdown, TasksOfAPoolThatNeverStartedAreDestroyedUnrun) {
    bool ran = false;
    auto marker = std::make_shared<int>(0);
    std::weak_ptr<int> seen = marker;
    {
        ThreadPool pool;
        pool.submit([&ran, m = std::move(marker)] { ran = true; });
    }
    EXPECT_FALSE(ran);
    EXPECT_TRUE(seen.expired());
}

TEST(ThreadPoolWorkers, EveryWorkerTakesTasks) {
    // Three tasks that each wait for all three to be running at once can
    // only finish if three workers exist. The wait is bounded so that a
    // missing worker fails the test instead of hanging it.
    constexpr int kWorkers = 3;
    std::mutex mutex;
    std::condition_variable allThere;
    int arrived = 0;
    std::atomic<int> metTheOthers{0};
    {
        ThreadPool pool;
        pool.init(kWorkers);
        for (int i = 0; i < kWorkers; ++i) {
            pool.submit([&] {
                std::unique_lock guard(mutex);
                ++arrived;
                allThere.notify_all();
                if (allThere.wait_for(guard, std::chrono::seconds(60), [&] { return arrived == kWorkers; })) {
                    ++metTheOthers;
                }
            });
        }
    }
    EXPECT_EQ(metTheOthers.load(), kWorkers);
}

TEST(ThreadPoolWorkers, ThrowingTaskIsLoggedAndTheWorkerCarriesOn) {
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    bool ranAfter = false;
    {
        ThreadPool pool;
        pool.init(1);
        pool.submit([] { throw std::runtime_error("PLC went away"); });
        pool.submit([] { throw 7; });
        pool.submit([&ranAfter] { ranAfter = true; });
    }
    std::cerr.rdbuf(old);

    EXPECT_TRUE(ranAfter);
    const std::string text = captured.str();
    EXPECT_NE(text.find("[ERROR]"), std::string::npos) << text;
    EXPECT_NE(text.find("Task on the thread pool failed: PLC went away"), std::string::npos) << text;
    EXPECT_NE(text.find("Task on the thread pool failed with an unknown exception"), std::string::npos) << text;
}

}  // namespace
