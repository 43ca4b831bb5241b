// The acknowledgement tick of one reader.
#pragma once

#include <atomic>
#include <cstdint>

struct ATPDevice;
struct HidDeviceEntry;
struct OsTimer;

// While an acknowledgement is owed the tick sends one every ackTickMs, and it wakes the event
// thread for message data left to it, so a long answer costs one wake per eight ticks rather
// than one per run of reports. It ticks on the reader's read thread where the HID layer can rest
// that thread (a steady stream then costs the thread one wake per tick and the timer threads
// none), else on the record's ackTimer (Windows, and tests that feed reports from their own
// thread). It stops when a tick finds nothing owed; the receive path arms it again.
// Part of the reader's record: armed by its receive path, run by its read thread or a timer.
class ATPAckTick {
public:
    // Message data was posted for the reader (queued: as a new event, not merged into one).
    // True when the caller must wake the event thread now: for urgent data (a message's last
    // packet, a ring half full); other data is left to the tick. Receive path.
    bool messageData(bool queued, bool urgent);
    // An acknowledgement may be owed: makes sure the ticks run. onReadThread: the caller is the
    // reader's own read thread, in a report callback. Receive path, record entered.
    void arm(ATPDevice* rec, bool onReadThread);
    // Nothing owed, no rest pending, as a new reader needs: a read thread stopped mid-rest never
    // gets its callback, so its rest would stay marked. The record is not in use.
    void reset();

private:
    // Sends the acknowledgement owed, if any, then wakes the event thread for data left to the
    // ticks at the eighth tick after it, or at one that found nothing owed (the last of a run).
    // False when nothing was owed. Record entered.
    bool tick(ATPDevice* rec);
    void wakeForData(ATPDevice* rec, bool last);
    // The timer's tick, and the end of a read thread's rest; argument is the record.
    static void OnTimer(OsTimer* timer, void* argument);
    static void OnRest(HidDeviceEntry* entry, void* argument);

    static constexpr int kTicksPerDataWake = 8;
    std::atomic<bool> dataWakeOwed_{false};  // message data was posted for a later tick
    std::atomic<int> dataWaits_{0};          // ticks since, that left it waiting
    // The read thread only: it rests until nextMs_ (HidNowMs) and then ticks.
    bool resting_ = false;
    int64_t nextMs_ = 0;
};
