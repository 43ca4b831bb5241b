// POSIX backend of os_timer.h. One scheduler thread keeps every timer in a time-ordered queue
// and sleeps until the earliest is due, so a waiting timer costs nothing; due callbacks are
// handed to a small pool of worker threads, so a slow callback never delays another timer.
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/debug_log.h"
#include "platform/os_timer.h"

using Clock = std::chrono::steady_clock;

struct OsTimer {
    OsTimerCallback callback;
    void* argument;
    Clock::duration period;  // zero for a one-shot timer
    Clock::time_point due;
    std::multimap<Clock::time_point, OsTimer*>::iterator position;
    bool queued = false;     // in the schedule
    bool pending = false;    // handed to the workers, not yet started
    bool running = false;    // its callback is running
    bool cancelled = false;  // freed by whoever lets go of it last
};

namespace {

// Process-wide; created on first use and never destroyed, since callbacks may still be running
// while the process exits. Its threads: "os-timer" (the scheduler) and "os-timer-work" (the
// workers); all of them live until the process ends.
class TimerService {
public:
    static TimerService& instance() {
        static TimerService* service = new TimerService;
        return *service;
    }

    bool add(OsTimer* timer) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!schedulerStarted_) {
            try {
                std::thread(&TimerService::schedule, this).detach();
            } catch (const std::system_error& error) {
                DebugLog("OsTimerCreate: cannot start the timer thread (%d)\n",
                         error.code().value());
                return false;
            }
            schedulerStarted_ = true;
        }
        insert(timer);
        return true;
    }

    void cancel(OsTimer* timer) {
        std::lock_guard<std::mutex> lock(mutex_);
        timer->cancelled = true;
        if (timer->queued) {
            schedule_.erase(timer->position);
            timer->queued = false;
        }
        if (!timer->pending && !timer->running) {
            delete timer;
        }
    }

private:
    // Called under mutex_.
    void insert(OsTimer* timer) {
        const bool earliest = schedule_.empty() || timer->due < schedule_.begin()->first;
        timer->position = schedule_.emplace(timer->due, timer);
        timer->queued = true;
        if (earliest) {
            scheduleChanged_.notify_one();
        }
    }

    void schedule() {
        pthread_setname_np(pthread_self(), "os-timer");
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (schedule_.empty()) {
                scheduleChanged_.wait(lock);
                continue;
            }
            const auto first = schedule_.begin();
            const Clock::time_point now = Clock::now();
            if (first->first > now) {
                // A copy: the entry may be erased while we wait.
                const Clock::time_point due = first->first;
                scheduleChanged_.wait_until(lock, due);
                continue;
            }
            OsTimer* timer = first->second;
            schedule_.erase(first);
            timer->queued = false;
            const bool busy = timer->pending || timer->running;
            if (timer->period != Clock::duration::zero()) {
                // Keep to the original phase; ticks that were missed are skipped, not bunched.
                timer->due += timer->period;
                if (timer->due <= now) {
                    timer->due += ((now - timer->due) / timer->period + 1) * timer->period;
                }
                insert(timer);
            }
            if (!busy && dispatch(timer)) {
                // Woken after letting go of the lock: a worker woken under it would at once
                // block on it again, costing both threads a second switch every tick.
                lock.unlock();
                workAvailable_.notify_one();
                lock.lock();
            }
        }
    }

    // Called under mutex_. True when an idle worker is to be woken (by the caller, after
    // letting go of mutex_).
    bool dispatch(OsTimer* timer) {
        timer->pending = true;
        ready_.push_back(timer);
        if (ready_.size() <= idleWorkers_) {
            return true;
        }
        try {
            std::thread(&TimerService::work, this).detach();
        } catch (const std::system_error& error) {
            // The existing workers still drain the queue, only later.
            DebugLog("OsTimer: cannot start a worker thread (%d)\n", error.code().value());
        }
        return false;
    }

    void work() {
        pthread_setname_np(pthread_self(), "os-timer-work");
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            while (ready_.empty()) {
                ++idleWorkers_;
                workAvailable_.wait(lock);
                --idleWorkers_;
            }
            OsTimer* timer = ready_.front();
            ready_.pop_front();
            timer->pending = false;
            if (timer->cancelled) {
                delete timer;
                continue;
            }
            timer->running = true;
            lock.unlock();
            if (timer->callback) {
                timer->callback(timer, timer->argument);
            }
            lock.lock();
            timer->running = false;
            if (timer->cancelled) {
                delete timer;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable scheduleChanged_;
    std::condition_variable workAvailable_;
    std::multimap<Clock::time_point, OsTimer*> schedule_;
    std::deque<OsTimer*> ready_;
    size_t idleWorkers_ = 0;
    bool schedulerStarted_ = false;
};

}  // namespace

OsTimer* OsTimerCreate(uint32_t dueMs, bool periodic, OsTimerCallback callback, void* argument) {
    auto* timer = new (std::nothrow) OsTimer;
    if (!timer) {
        DebugLog("CreateTimerQueueTimer failed (%d)\n", 12);
        return nullptr;
    }
    timer->callback = callback;
    timer->argument = argument;
    const auto interval = std::chrono::milliseconds(dueMs);
    timer->period = periodic ? Clock::duration(interval) : Clock::duration::zero();
    if (periodic && dueMs == 0) {
        timer->period = std::chrono::milliseconds(1);  // a zero period would spin
    }
    timer->due = Clock::now() + interval;
    if (!TimerService::instance().add(timer)) {
        delete timer;
        return nullptr;
    }
    return timer;
}

void OsTimerCancel(OsTimer* timer) {
    if (timer) {
        TimerService::instance().cancel(timer);
    }
}
