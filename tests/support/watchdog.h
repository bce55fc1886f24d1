#pragma once
// Turns a hang into a failure: a test step that might block (opening a FIFO, reading a
// device) runs while a watchdog lives, and the watchdog ends the test program with a line
// naming the test when the step is not done within its time.

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Watchdog
{
public:
    explicit Watchdog(int seconds = 10)
    {
        // Named now, on the test's own thread: that is the one that may get stuck.
        std::string name = QTest::currentTestFunction() ? QTest::currentTestFunction() : "?";
        if (QTest::currentDataTag())
            name += std::string("(") + QTest::currentDataTag() + ")";
        thread = std::thread([this, seconds, name] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!cancelled.wait_for(lock, std::chrono::seconds(seconds), [this] { return done; })) {
                std::fprintf(stderr, "FAIL! : %s did not finish within %d s: it blocks\n",
                             name.c_str(), seconds);
                std::fflush(stderr);
                std::abort();
            }
        });
    }

    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        cancelled.notify_one();
        thread.join();
    }

    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    std::mutex mutex;
    std::condition_variable cancelled;
    bool done = false;
    std::thread thread;
};
