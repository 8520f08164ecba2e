// RunAside: the work runs off the calling thread, queued calls of the calling
// thread still run meanwhile, user input waits, and results and errors come
// back.
#include "common/RunAside.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>

TEST(RunAside, WorkRunsElsewhereWhileQueuedCallsRun) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> queuedRan{false};
    QTimer::singleShot(0, [&] { queuedRan = true; });
    const std::thread::id worker = RunAside([&] {
        // Holds until the caller's event queue has run the timer: a caller
        // that waited without running its events would never end this.
        while (!queuedRan) std::this_thread::yield();
        return std::this_thread::get_id();
    });
    EXPECT_NE(worker, caller);
    EXPECT_TRUE(queuedRan);
}

TEST(RunAside, ResultsAndErrorsComeBack) {
    EXPECT_EQ(RunAside([] { return 42; }), 42);
    EXPECT_THROW(RunAside([]() -> int { throw std::runtime_error("disk full"); }), std::runtime_error);
}
