// One reader's record and the guard that keeps it alive while any thread or timer uses it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/os.h"
#include "platform/os_timer.h"
#include "platform/ring_buffer.h"
#include "transport/atp_ack_tick.h"
#include "transport/atp_packet.h"

class MALTransATP;
struct HidDeviceEntry;

constexpr uint32_t kATPTextRingSize = 8192;
constexpr uint32_t kATPMsgRingSize = 4194304;
constexpr uint32_t kATPIdentitySize = 64;
constexpr uint32_t kATPReaderTextSize = 32;
// Unacknowledged host data packets at most: sequence numbers are compared within half their
// range, so more would make a lost packet look acknowledged.
constexpr uint8_t kATPMaxInFlight = 127;
// A send that belongs to no particular numbering of the link.
constexpr uint32_t kATPAnyEpoch = ~uint32_t{0};

// A sent data packet kept until the reader acknowledges it.
struct ATPQueuedPacket {
    ATPQueuedPacket* next;
    uint8_t bytes[kATPPacketSize];
};

// Records are never freed, only recycled: OsTimerCancel does not wait for a callback that is
// already running, so such a callback may still look at its record after the reader, or even
// its transport, is gone. The guard check (inUse, closing, current timer) turns it away.
struct ATPDevice {
    // guard protects inUse, closing (writes), users and both timer pointers.
    OsLockRef guard = nullptr;
    uint32_t inUse = 0;
    std::atomic<bool> closing{false};  // removal under way: no new users, senders give up
    int32_t users = 0;                 // entries in progress; removal waits for 0
    // Null while idle: each runs only while something awaits acknowledgement or resending.
    // ackTimer stays null where the reader's read thread runs ackTick.
    OsTimer* ackTimer = nullptr;
    OsTimer* retransmitTimer = nullptr;

    uint32_t deviceId = 0;
    HidDeviceEntry* hidDevice = nullptr;
    uint32_t hidGeneration = 0;  // the entry's adoption this record belongs to
    MALTransATP* owner = nullptr;
    std::atomic<uint8_t> closeByte{0};

    // Receive side, written on the reader's read thread.
    RingBuffer textRing{};
    RingBuffer msgRing{};
    char identity[kATPIdentitySize] = {};
    bool identified = false;  // the first identity was answered (its text may be empty)
    char readerText[kATPReaderTextSize] = {};
    std::atomic<uint32_t> identityClass{0};
    bool msgRingFull = false;  // a packet did not fit; logged once until one fits again
    // Text that did not fit the ring was dropped, and all text after it until the event thread
    // has handed on what came before: set on the read thread, cleared on the event thread.
    std::atomic<bool> textLost{false};

    // Credit: credit and maxCredit under the transport's creditLock.
    int32_t credit = 0;
    int32_t maxCredit = 0;
    OsHandle msgWindow = nullptr;  // manual reset; set while a sender may spend credit

    // Link counters, shared by the read thread, the timers and the senders.
    std::atomic<uint8_t> txSeq{0};
    std::atomic<uint8_t> rxExpected{0};
    std::atomic<uint8_t> lastAckSent{0};
    volatile int32_t outOfSequence = 0;  // OsAtomicExchange only
    std::atomic<int32_t> tickCount{0};   // retransmitTimer's ticks since the link last moved
    ATPAckTick ackTick;

    // queueLock protects unacked, peerAck and the writes of txSeq and linkEpoch. Packets in
    // flight are numbered peerAck up to txSeq; an acknowledgement outside that is stale.
    OsLockRef queueLock = nullptr;
    ATPQueuedPacket* unackedHead = nullptr;
    ATPQueuedPacket* unackedTail = nullptr;
    uint8_t peerAck = 0;
    std::atomic<uint32_t> linkEpoch{0};  // bumped by each link reset; stale packets stay unsent
    OsHandle sendRoom = nullptr;  // manual reset; set while fewer than kATPMaxInFlight in flight

    // txLock serialises writeMsg and writeText: a message goes out whole and in order.
    OsLockRef txLock = nullptr;
    uint8_t txPacket[kATPPacketSize] = {};  // payload from byte 8 while being filled
    int32_t txLength = 0;

    ATPDevice* poolNext = nullptr;
};

// Takes a record from the process-wide pool (or makes one), all fields reset and not in use.
// Null when out of memory. Any thread.
ATPDevice* ATPDeviceAllocate();

// Gives a record back to the pool; it must be free (torn down, no users). Any thread.
void ATPDeviceRecycle(ATPDevice* record);

// Counts the caller as a user when the record is in use and not closing; true when it did.
// Non-blocking apart from the guard. Any thread.
bool ATPDeviceEnter(ATPDevice* record);

// As ATPDeviceEnter, and also requires timer to be one of the record's current timers, so a
// late tick of a cancelled timer never acts on a reader that reused the slot. Timer threads.
bool ATPDeviceEnterFromTimer(ATPDevice* record, OsTimer* timer);

// Ends a use begun by a successful enter. Any thread.
void ATPDeviceLeave(ATPDevice* record);

// A use of a record that ends with the scope; empty when the enter failed.
class ATPDeviceUse {
public:
    ATPDeviceUse() = default;
    explicit ATPDeviceUse(ATPDevice* record)
        : record_(record && ATPDeviceEnter(record) ? record : nullptr) {}
    ~ATPDeviceUse() { reset(); }
    ATPDeviceUse(ATPDeviceUse&& other) noexcept : record_(other.record_) {
        other.record_ = nullptr;
    }
    ATPDeviceUse& operator=(ATPDeviceUse&& other) noexcept {
        if (this != &other) {
            reset();
            record_ = other.record_;
            other.record_ = nullptr;
        }
        return *this;
    }
    ATPDeviceUse(const ATPDeviceUse&) = delete;
    ATPDeviceUse& operator=(const ATPDeviceUse&) = delete;

    // Adopts a use that the caller has already entered.
    static ATPDeviceUse adopt(ATPDevice* entered) {
        ATPDeviceUse use;
        use.record_ = entered;
        return use;
    }

    ATPDevice* get() const { return record_; }
    ATPDevice* operator->() const { return record_; }
    explicit operator bool() const { return record_ != nullptr; }

private:
    void reset() {
        if (record_) {
            ATPDeviceLeave(record_);
            record_ = nullptr;
        }
    }

    ATPDevice* record_ = nullptr;
};
