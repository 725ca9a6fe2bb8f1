#pragma once

#include <chrono>
#include <thread>

// Waits until condition() holds, looking every 5 ms, up to a deadline
// generous enough for a loaded machine; false when the deadline passed.
template <class Condition>
bool WaitFor(Condition condition,
             std::chrono::steady_clock::duration timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
