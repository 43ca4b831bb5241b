// The ATP transport over USB HID: one record per reader, the event thread that reports to the
// AAP layer, credit-based sending with acknowledgement and retransmission, and the receive path.
#pragma once

#include <atomic>
#include <cstdint>

#include "hid/hid.h"
#include "platform/os.h"
#include "platform/os_timer.h"
#include "transport/atp_device.h"
#include "transport/atp_event_queue.h"
#include "transport/mal_transport_manager.h"

// Waits and retries of the link. Tests shorten them; the programs never change them.
struct ATPTimings {
    uint32_t creditWaitMs = 60000;  // one wait for msgWindow
    int pingRetries = 6;            // waits (each followed by a ping) before a sender gives up
    uint32_t retransmitTickMs = 500;
    int ticksBeforeResend = 3;
    uint32_t ackTickMs = 5;
    uint32_t addDelayMs = 200;  // a new device settles before its link starts
};
ATPTimings& ATPTimingsForTest();

// Writes one 64-byte packet as a report; the result is not used. Any thread.
// generation: the entry's adoption the packet is meant for.
using ATPReportWriter = bool (*)(HidDeviceEntry* entry, uint32_t generation, const uint8_t* data,
                                 int32_t length, void* context);

// Vendor 0x1A61 with its three reader products, ended by a zero vendor.
extern const HidDeviceFilter kReaderFilters[4];

constexpr int32_t kATPTableGrowth = 4;

class MALTransATP final : public MALTransportManager {
public:
    // A transport that is not open: four free slots, no threads. Any thread.
    MALTransATP();
    // Closes when open, then tears down every reader without reporting it.
    ~MALTransATP();
    MALTransATP(const MALTransATP&) = delete;
    MALTransATP& operator=(const MALTransATP&) = delete;

    // The interface's operations; their contracts are in mal_transport_manager.h.
    hidInterface* open(const HidDeviceFilter* filters) override;
    // Also: not from the event thread or a callback, since it waits for that thread to end.
    void close() override;
    void setEventCallback(TransportEventCallback callback) override;
    int32_t writeText(uint32_t deviceId, const uint8_t* text, uint32_t length) override;
    int32_t writeMsg(uint32_t deviceId, uint32_t reserved, const uint8_t* bytes,
                     uint32_t length) override;
    int32_t readText(uint32_t deviceId, uint8_t* buffer, uint32_t size) override;
    int32_t readMsg(uint32_t deviceId, uint32_t reserved, uint8_t* buffer,
                    uint32_t* sizeInOut) override;
    int32_t getVersion(char* buffer, uint32_t size) override;
    void restartLink(uint32_t deviceId) override;
    void OnDeviceAttach(uint32_t deviceId) override;
    void OnDeviceRemove(uint32_t deviceId) override;
    void OnDebugPrint(const char* text) override;
    void OnReceiveReport(int32_t deviceId, const uint8_t* report, int32_t length) override;
    void OnReceiveATP(uint32_t deviceId, const uint8_t* packet) override;

    // Writes a 64-byte packet; data and text packets first wait for credit. Returns its length
    // byte, 0 with no reader or when the credit wait gave up. Any thread; may block for minutes.
    int32_t sendDeviceMessage(uint32_t deviceId, const uint8_t* packet);
    // Sends a command packet; 0 when length exceeds 62, else as sendDeviceMessage.
    int32_t SendDeviceMessage(uint32_t deviceId, uint8_t command, const uint8_t* payload,
                              uint32_t length);

    // The id of the first reader in use on entry; -1 (logged) when none. Any thread.
    int32_t GetDeviceID(HidDeviceEntry* entry);
    // Creates a reader's record for the entry's adoption numbered generation (the one operand
    // form: its current one) and starts its link; returns its id or -1. Event thread (or a test
    // standing in for it); sleeps the add delay first.
    int32_t AddSerHidDevice(HidDeviceEntry* entry);
    int32_t AddSerHidDevice(HidDeviceEntry* entry, uint32_t generation);

    // The HID layer's report callback: one report, on the entry's read thread (or a test
    // standing in for it). What it posts wakes the event thread at the batch end, and the
    // reader's acknowledgement tick runs on that thread where it can.
    void receiveOnReadThread(HidDeviceEntry* entry, const uint8_t* report, int32_t length);
    // Queues an event for the event thread and wakes it; in receiveOnReadThread, the wake waits
    // for wakeOwedEventThread. Any thread; never blocks for long.
    void postEvent(uint32_t type, uint64_t value, uint32_t generation = 0);
    // Wakes the event thread for what read threads posted without waking it. The HID layer's
    // batch end on a read thread.
    void wakeOwedEventThread();
    // Runs every queued event on the calling thread. The event thread's body, and tests that
    // stand in for it.
    void dispatchPendingEvents();

    // Slots in the table (4, 8, ...). Any thread.
    int32_t deviceCount() const { return deviceCount_.load(std::memory_order_acquire); }
    // The record in slot, null beyond the table; valid until the transport is destroyed. For
    // tests and diagnostics: its fields change under the threads that own them.
    const ATPDevice* deviceAt(uint32_t slot) const;
    // The last kATPTransportByte value of any reader (0 before one). Any thread.
    uint8_t transportByte() const { return transportByte_.load(); }

    // Replaces WriteHidReport for unit tests. Set before the first reader is added.
    void setReportWriterForTest(ATPReportWriter writer, void* context);

private:
    // Lookup (mal_trans_atp.cpp): an entered use of the reader, empty when there is none.
    // useDevice applies the id-0 rule; useSlot does not. Any thread, never blocks.
    ATPDeviceUse useDevice(uint32_t deviceId);
    ATPDeviceUse useSlot(uint32_t slot);
    // The record in a slot, null beyond the table. Any thread.
    ATPDevice* slot(uint32_t index) const;
    // Adds four free slots; false (nothing added) when full or out of memory. Event thread.
    bool growTable();
    // Creates the record's rings, locks and event and marks it in use; false (logged, slot
    // left free) on failure. Event thread.
    bool setUpRecord(ATPDevice* rec, uint32_t index, HidDeviceEntry* entry, uint32_t generation);
    // The id of the record of the entry's adoption generation; -1 when none. Any thread.
    int32_t findRecord(HidDeviceEntry* entry, uint32_t generation);
    // Ends a reader: wakes its senders, stops its timers, waits for its users, then (when
    // report is true) reports the removal and frees its rings, locks and event. False when
    // it was not in use or another thread is already removing it.
    bool tearDown(ATPDevice* rec, bool report);
    // kEvtRemoveDevice: tears down the reader of that adoption of the entry, if any. Event
    // thread.
    void removeDevice(HidDeviceEntry* entry, uint32_t generation);
    // The event thread's loop: dispatches until close, then once more. "atp-event" only.
    void runEventThread();
    static void EventThreadBody(void* argument);

    // Sending (atp_send.cpp); every record argument is entered by the caller, on any thread.
    // sendDeviceMessage and SendDeviceMessage on an entered record; same results.
    // A packet of a link epoch is dropped (0) when a reset renumbered the link meanwhile.
    int32_t sendPacket(ATPDevice* rec, const uint8_t* packet, uint32_t epoch = kATPAnyEpoch);
    int32_t sendCommand(ATPDevice* rec, uint8_t command, const uint8_t* payload, uint32_t length);
    // Waits until take succeeds, as for credit: up to pingRetries waits on event, a ping after
    // each that times out. False after the last ping (logged) or on removal. Blocks for minutes
    // at most.
    bool waitLikeCredit(ATPDevice* rec, OsHandle event, bool (MALTransATP::*take)(ATPDevice*),
                        const char* operation, const char* window);
    // Spends one credit when there is one, else clears msgWindow. Takes creditLock.
    bool takeCredit(ATPDevice* rec);
    // True while fewer than kATPMaxInFlight packets are unacknowledged, else clears sendRoom.
    bool takeSendRoom(ATPDevice* rec);
    // One report through the writer, no credit; nothing once the entry was re-adopted. Blocks
    // for the HID write.
    void writeReport(ATPDevice* rec, const uint8_t* packet);
    // Numbers, queues and sends txPacket, then empties it; waits for room in flight and for
    // credit. *epoch is the message's link epoch (kATPAnyEpoch before its first packet). False
    // when the packet was dropped: the link was reset during the message or stayed silent.
    // Under txLock.
    bool flushTxPacket(ATPDevice* rec, uint32_t* epoch);
    // Takes an acknowledgement within the packets in flight; others are logged and ignored.
    // Read thread; takes queueLock only.
    void processAck(ATPDevice* rec, uint8_t ack);
    // Sends a status packet with code, no credit.
    void sendStatus(ATPDevice* rec, uint8_t code);
    // Resends what is still unacknowledged, then a kATPStatusResent. Timer thread; may wait
    // for credit, never while holding queueLock.
    void retransmit(ATPDevice* rec);
    // Counters to 0, message ring and queue emptied; credit, text and timers untouched.
    void resetLinkState(ATPDevice* rec);
    // Reset, timers stopped, ping and a reset status. Never blocks on credit.
    void startLink(ATPDevice* rec);
    // Cancels both timers without waiting for a running tick. Any thread.
    void stopTimers(ATPDevice* rec);
    // The timers run only while they have work: slot's timer (ackTimer or retransmitTimer) is
    // started, every periodMs, when there is none and the reader is not being removed. Any
    // thread; never blocks beyond the guard and the timer service's lock.
    void armTimer(ATPDevice* rec, OsTimer* ATPDevice::*slot, uint32_t periodMs,
                  OsTimerCallback callback);
    // From timer's own tick with nothing to do: stops it if it is still slot's timer.
    void idleTimer(ATPDevice* rec, OsTimer* ATPDevice::*slot, OsTimer* timer);
    // kATPCredit and kATPWindowSize. Read thread; takes creditLock only.
    void grantCredit(ATPDevice* rec, uint8_t amount);
    void setWindowSize(ATPDevice* rec, uint8_t size);
    // retransmitTimer's callback; argument is the record. Platform timer threads.
    static void RetransmitTimerCallback(OsTimer* timer, void* argument);

    // Receive path (atp_receive.cpp), read thread, record entered.
    // kATPIdentity: sets the class; the first one is answered and posts kEvtAttach.
    void receiveIdentity(ATPDevice* rec, const uint8_t* payload, uint32_t length);
    // kATPDataIn: acknowledgement, sequence and checksum checks, then the message ring.
    void receiveData(ATPDevice* rec, const uint8_t* packet);
    void receiveText(ATPDevice* rec, const uint8_t* text, uint32_t length);
    // Sets eventSignal_, or in receiveOnReadThread leaves that to the read thread's batch end.
    void wakeEventThread();
    // The caller is in receiveOnReadThread for the reader's entry.
    static bool OnReadThreadOf(const ATPDevice* rec);

    // Sends acknowledgements and wakes the event thread for the data left to it.
    friend class ATPAckTick;

    OsHandle eventSignal_;               // auto reset; wakes the event thread
    std::atomic<bool> wakeOwed_{false};  // a read thread posted without setting eventSignal_
    std::atomic<bool> running_{false};
    std::atomic<uint8_t> transportByte_{0};
    // Slot pointers are published before deviceCount_ grows and never change afterwards.
    ATPDevice* slots_[kATPMaxDevices] = {};
    std::atomic<int32_t> deviceCount_{0};
    hidInterface* hidInterface_ = nullptr;
    bool hidLoaded_ = false;
    OsLockRef creditLock_;  // credit of all readers; taken after a queueLock, never before
    std::atomic<TransportEventCallback> eventCallback_{nullptr};
    // "atp-event": owned by this transport, started by open, ended and joined by close.
    OsHandle eventThread_ = nullptr;
    ATPEventQueue events_;
    ATPReportWriter writer_;
    void* writerContext_ = nullptr;
};

// The process's one transport; created by the AAP layer's start-up, null before.
extern MALTransATP* theTransport;
