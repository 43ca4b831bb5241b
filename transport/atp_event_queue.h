// The transport's event queue: many posting threads (every reader's read thread, the HID
// listen thread, timers), one consumer (the event thread).
#pragma once

#include <cstdint>

#include "platform/os.h"

constexpr uint32_t kEvtAddDevice = 0;     // value: HidDeviceEntry*, generation: its adoption
constexpr uint32_t kEvtAttach = 1;        // value: device id
constexpr uint32_t kEvtRemoveDevice = 2;  // value: HidDeviceEntry*, generation: its adoption
constexpr uint32_t kEvtTextData = 3;      // value: device id
constexpr uint32_t kEvtMsgData = 4;       // value: device id

constexpr int32_t kATPEventQueueSize = 256;
// Data events of device ids below this are merged; device tables never grow beyond it.
constexpr uint32_t kATPMaxDevices = 64;

struct ATPEvent {
    uint32_t type;
    uint64_t value;
    uint32_t generation;
};

enum class ATPPostResult { queued, merged, dropped };

// FIFO of 256 events behind a short lock that is never held while calling out.
//
// A text or message event is dropped when one of the same type for the same device is still
// queued: delivery reads whatever the ring holds then, so nothing is lost. Every other event is
// kept even when the ring is full (in an overflow list, delivered after the ring in order), since
// losing an arrival or removal would leave a record behind for good.
class ATPEventQueue {
public:
    // An empty queue; ~ frees what is still queued. Neither while others use the queue.
    ATPEventQueue();
    ~ATPEventQueue();
    ATPEventQueue(const ATPEventQueue&) = delete;
    ATPEventQueue& operator=(const ATPEventQueue&) = delete;

    // Queues an event; any thread, never waits for space. merged: a data event of the same
    // reader and type is still queued, so the consumer needs no new wake-up. dropped: overflow
    // memory ran out (logged).
    ATPPostResult post(uint32_t type, uint64_t value, uint32_t generation = 0);

    // Takes the oldest event into *out; false when the queue is empty. Consumer thread only.
    bool take(ATPEvent* out);

    // Drops every queued event. Only while nobody posts or takes.
    void clear();

private:
    struct Overflow {
        Overflow* next;
        ATPEvent event;
    };

    static uint8_t dataBit(uint32_t type);

    OsLockRef lock_;
    ATPEvent entries_[kATPEventQueueSize];
    int32_t readIndex_ = 0;
    int32_t writeIndex_ = 0;
    int32_t count_ = 0;
    Overflow* overflowHead_ = nullptr;  // newer than everything in entries_
    Overflow* overflowTail_ = nullptr;
    bool overflowLogged_ = false;
    uint8_t dataQueued_[kATPMaxDevices] = {};  // per device id: which data events are queued
};
