#include "hid/watch_thread.h"

#include "platform/debug_log.h"

bool HidWatchThread::start(const char* name, HidNotice notice, Drain drain, void* context) {
    name_ = name;
    notice_ = notice;
    drain_ = drain;
    context_ = context;
    stop_ = HidNewStopNotice(name);
    if (stop_ == kHidNoNotice) {
        return false;
    }
    thread_ = OsCreateThread(name, &HidWatchThread::run, this);
    if (!thread_) {
        DebugLog("HID: cannot start %s\n", name);
        return false;
    }
    return true;
}

HidWatchThread::~HidWatchThread() {
    if (thread_) {
        HidSetStopNotice(stop_);
        OsWait(thread_, kOsWaitForever);
        OsCloseHandle(thread_);
    }
    if (stop_ != kHidNoNotice) {
        HidCloseStopNotice(stop_);
    }
}
