// Polls until done holds; the limit is only a hang guard, never a speed target.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

inline bool Eventually(const std::function<bool()>& done, int limitMs = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (std::chrono::steady_clock::now() > end) {
            return done();
        }
    }
    return true;
}
