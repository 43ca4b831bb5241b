// The thread behind a hot-plug watch, one implementation per OS (posix/, windows/). Internal to
// hid/.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "hid/hid_backend.h"
#include "platform/os.h"

// What the thread waits on: a readable fd (POSIX) or a waitable handle (Windows).
using HidNotice = intptr_t;
constexpr HidNotice kHidNoNotice = -1;

// Per OS: a notice that stops a watch thread, made (kHidNoNotice, logged, when it cannot), set
// and closed.
HidNotice HidNewStopNotice(const char* name);
void HidSetStopNotice(HidNotice stop);
void HidCloseStopNotice(HidNotice stop);

// Waits until its notice is ready, then calls drain(context), which takes in what is there (and,
// on Windows, arms the notice again) and returns false to end the thread. Stopped and joined on
// destruction, so declare it after whatever drain uses.
class HidWatchThread {
public:
    using Drain = bool (*)(void* context);

    HidWatchThread() = default;
    HidWatchThread(const HidWatchThread&) = delete;
    HidWatchThread& operator=(const HidWatchThread&) = delete;
    ~HidWatchThread();

    // Starts the thread under name; false (logged) when it cannot. Called once.
    bool start(const char* name, HidNotice notice, Drain drain, void* context);

private:
    // The thread's body, per OS.
    static void run(void* self);

    const char* name_ = nullptr;
    HidNotice notice_ = 0;
    Drain drain_ = nullptr;
    void* context_ = nullptr;
    HidNotice stop_ = kHidNoNotice;  // owned
    OsHandle thread_ = nullptr;      // this object's thread
};

// A watch made and started, or null (nothing left running) when out of memory or its start
// failed. Watch has a bool start().
template <typename Watch, typename... Args>
HidWatch* HidStartWatch(Args&&... args) {
    std::unique_ptr<Watch> watch(new (std::nothrow) Watch(std::forward<Args>(args)...));
    return watch && watch->start() ? watch.release() : nullptr;
}
