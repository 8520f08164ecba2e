// Work that must not hold up the window: RunAside runs it on a thread of its
// own while the calling (window) thread keeps painting and running its timers
// and queued calls; user input waits until the work is done, so nothing the
// work uses can be changed under it. Returns what the work returns; an
// exception it throws comes out here.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <future>
#include <thread>
#include <utility>

template <class F>
auto RunAside(F work) -> decltype(work()) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    while (result.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
    worker.join();
    return result.get();
}
