// Lifecycle, the event thread, record lookup, and adding and removing readers.
#include "transport/mal_trans_atp.h"

#include <cstring>

#include "platform/debug_log.h"

MALTransATP* theTransport = nullptr;

const HidDeviceFilter kReaderFilters[4] = {
    {0x1A61, 0x3650},
    {0x1A61, 0x3660},
    {0x1A61, 0x3670},
    {0, 0},
};

ATPTimings& ATPTimingsForTest() {
    static ATPTimings timings;
    return timings;
}

namespace {

constexpr uint32_t kEventPollMs = 500;

bool WriteThroughHid(HidDeviceEntry* entry, uint32_t generation, const uint8_t* data,
                     int32_t length, void*) {
    return WriteHidReportTo(entry, generation, data, length);
}

HidDeviceEntry* EntryOf(uint64_t value) {
    return reinterpret_cast<HidDeviceEntry*>(static_cast<uintptr_t>(value));
}

uint64_t ValueOf(HidDeviceEntry* entry) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(entry));
}

// In receiveOnReadThread, the reader's entry: what the thread posts wakes the event thread once,
// at the end of the run of reports it reads back to back, and the reader's tick runs on it.
thread_local HidDeviceEntry* tReadingEntry = nullptr;

void HidReport(HidDeviceEntry* entry, const uint8_t* report, int32_t length, void* context) {
    static_cast<MALTransATP*>(context)->receiveOnReadThread(entry, report, length);
}

void HidReadBatchEnd(HidDeviceEntry*, void* context) {
    static_cast<MALTransATP*>(context)->wakeOwedEventThread();
}

// The generation goes along: by the time the event thread looks, the entry may hold another.
void HidArrive(HidDeviceEntry* entry, void* context) {
    static_cast<MALTransATP*>(context)->postEvent(kEvtAddDevice, ValueOf(entry), entry->generation);
}

void HidRemove(HidDeviceEntry* entry, void* context) {
    static_cast<MALTransATP*>(context)->postEvent(kEvtRemoveDevice, ValueOf(entry),
                                                  entry->generation);
}

}  // namespace

MALTransATP::MALTransATP()
    : eventSignal_(OsCreateEvent(false, false)),
      creditLock_(OsCreateLock()),
      writer_(WriteThroughHid) {
    growTable();
}

MALTransATP::~MALTransATP() {
    if (eventThread_ || hidInterface_ || hidLoaded_) {
        close();
    }
    const int32_t count = deviceCount();
    for (int32_t i = 0; i < count; ++i) {
        tearDown(slots_[i], false);
    }
    for (int32_t i = 0; i < count; ++i) {
        ATPDeviceRecycle(slots_[i]);
        slots_[i] = nullptr;
    }
    OsCloseHandle(eventSignal_);
    OsDeleteLock(creditLock_);
}

hidInterface* MALTransATP::open(const HidDeviceFilter* filters) {
    if (running_) {
        return hidInterface_;
    }
    hidLoaded_ = LoadHidLibrary();
    events_.clear();
    running_ = true;
    eventThread_ = OsCreateThread("atp-event", EventThreadBody, this);
    if (!eventThread_) {
        DebugLog("MALTransATP::open - can't start the event thread\n");
        running_ = false;
        return nullptr;
    }
    hidInterface_ =
        OpenHidInterface(filters, HidReport, HidArrive, HidRemove, this, HidReadBatchEnd);
    return hidInterface_;
}

void MALTransATP::close() {
    running_ = false;
    if (eventThread_) {
        OsSetEvent(eventSignal_);
        // Unbounded: the records it may still be adding are torn down below.
        OsWait(eventThread_, kOsWaitForever);
        OsCloseHandle(eventThread_);
        eventThread_ = nullptr;
    }
    const int32_t count = deviceCount();
    for (int32_t i = 0; i < count; ++i) {
        ATPDevice* rec = slots_[i];
        {
            ATPDeviceUse use(rec);
            if (!use) {
                continue;
            }
            const uint8_t closeByte = rec->closeByte;
            sendCommand(rec, kATPClose, &closeByte, 1);
        }
        tearDown(rec, true);
    }
    if (hidInterface_) {
        CloseHidInterface(hidInterface_);
        hidInterface_ = nullptr;
    }
    if (hidLoaded_) {
        UnloadHidLibrary();
        hidLoaded_ = false;
    }
}

void MALTransATP::setEventCallback(TransportEventCallback callback) {
    eventCallback_ = callback;
}

void MALTransATP::setReportWriterForTest(ATPReportWriter writer, void* context) {
    writer_ = writer ? writer : WriteThroughHid;
    writerContext_ = context;
}

void MALTransATP::postEvent(uint32_t type, uint64_t value, uint32_t generation) {
    // A merged event needs no wake-up: the one it joined has its own.
    if (events_.post(type, value, generation) == ATPPostResult::queued) {
        wakeEventThread();
    }
}

void MALTransATP::wakeEventThread() {
    if (!eventSignal_) {
        return;
    }
    if (tReadingEntry) {
        // Woken once the read thread has nothing more queued, rather than several times
        // while it runs through the reports.
        wakeOwed_ = true;
        return;
    }
    OsSetEvent(eventSignal_);
}

void MALTransATP::receiveOnReadThread(HidDeviceEntry* entry, const uint8_t* report,
                                      int32_t length) {
    HidDeviceEntry* const outer = tReadingEntry;
    tReadingEntry = entry;
    OnReceiveReport(GetDeviceID(entry), report, length);
    tReadingEntry = outer;
}

bool MALTransATP::OnReadThreadOf(const ATPDevice* rec) {
    return rec->hidDevice && tReadingEntry == rec->hidDevice;
}

void MALTransATP::wakeOwedEventThread() {
    if (wakeOwed_.exchange(false)) {
        OsSetEvent(eventSignal_);
    }
}

void MALTransATP::EventThreadBody(void* argument) {
    static_cast<MALTransATP*>(argument)->runEventThread();
}

void MALTransATP::runEventThread() {
    while (running_) {
        dispatchPendingEvents();
        OsWait(eventSignal_, kEventPollMs);
    }
    // What was posted before close still reaches the AAP layer.
    dispatchPendingEvents();
}

void MALTransATP::dispatchPendingEvents() {
    ATPEvent event;
    while (events_.take(&event)) {
        switch (event.type) {
            case kEvtAddDevice:
                AddSerHidDevice(EntryOf(event.value), event.generation);
                break;
            case kEvtAttach:
                OnDeviceAttach(static_cast<uint32_t>(event.value));
                break;
            case kEvtRemoveDevice:
                removeDevice(EntryOf(event.value), event.generation);
                break;
            case kEvtTextData:
            case kEvtMsgData: {
                const TransportEventCallback callback = eventCallback_;
                if (!callback) {
                    break;
                }
                const bool text = event.type == kEvtTextData;
                const uint32_t deviceId = static_cast<uint32_t>(event.value);
                uint32_t count = 0;
                bool lost = false;
                {
                    ATPDeviceUse use = useSlot(deviceId);
                    if (use) {
                        // Before the count: once text is lost the ring takes no more.
                        lost = text && use->textLost.load();
                        count = RingBufferCount(text ? &use->textRing : &use->msgRing);
                    }
                }
                callback(deviceId, text ? kXportTextData : kXportMsgData, count,
                         lost ? kXportTextLost : 0);
                if (lost) {
                    ATPDeviceUse use = useSlot(deviceId);
                    if (use) {
                        use->textLost = false;
                    }
                }
                break;
            }
            default:
                break;
        }
    }
}

ATPDevice* MALTransATP::slot(uint32_t index) const {
    return index < static_cast<uint32_t>(deviceCount()) ? slots_[index] : nullptr;
}

const ATPDevice* MALTransATP::deviceAt(uint32_t index) const {
    return slot(index);
}

ATPDeviceUse MALTransATP::useSlot(uint32_t index) {
    return ATPDeviceUse(slot(index));
}

ATPDeviceUse MALTransATP::useDevice(uint32_t deviceId) {
    ATPDeviceUse use = useSlot(deviceId);
    if (use || deviceId != 0) {
        return use;
    }
    // Id 0 stands for the first reader when slot 0 is free.
    const int32_t count = deviceCount();
    for (int32_t i = 1; i < count; ++i) {
        ATPDeviceUse other(slots_[i]);
        if (other) {
            return other;
        }
    }
    return use;
}

int32_t MALTransATP::GetDeviceID(HidDeviceEntry* entry) {
    const int32_t id = entry ? findRecord(entry, entry->generation) : -1;
    if (id < 0) {
        DebugLog("GetDeviceID: error no device found\n");
    }
    return id;
}

int32_t MALTransATP::findRecord(HidDeviceEntry* entry, uint32_t generation) {
    const int32_t count = deviceCount();
    for (int32_t i = 0; i < count; ++i) {
        ATPDevice* rec = slots_[i];
        OsLock(rec->guard);
        const bool match =
            rec->inUse != 0 && rec->hidDevice == entry && rec->hidGeneration == generation;
        OsUnlock(rec->guard);
        if (match) {
            return i;
        }
    }
    return -1;
}

bool MALTransATP::growTable() {
    // Only the event thread grows the table, so the count cannot change under us.
    const int32_t count = deviceCount_.load(std::memory_order_relaxed);
    if (count + kATPTableGrowth > static_cast<int32_t>(kATPMaxDevices)) {
        return false;
    }
    ATPDevice* fresh[kATPTableGrowth] = {};
    for (int32_t i = 0; i < kATPTableGrowth; ++i) {
        fresh[i] = ATPDeviceAllocate();
        if (!fresh[i]) {
            for (int32_t j = 0; j < i; ++j) {
                ATPDeviceRecycle(fresh[j]);
            }
            return false;
        }
    }
    for (int32_t i = 0; i < kATPTableGrowth; ++i) {
        slots_[count + i] = fresh[i];
    }
    deviceCount_.store(count + kATPTableGrowth, std::memory_order_release);
    return true;
}

int32_t MALTransATP::AddSerHidDevice(HidDeviceEntry* entry) {
    return AddSerHidDevice(entry, entry ? entry->generation.load() : 0);
}

int32_t MALTransATP::AddSerHidDevice(HidDeviceEntry* entry, uint32_t generation) {
    const uint32_t delay = ATPTimingsForTest().addDelayMs;
    if (delay != 0) {
        OsSleep(delay);
    }
    int32_t index = -1;
    const int32_t count = deviceCount();
    for (int32_t i = 0; i < count && index < 0; ++i) {
        OsLock(slots_[i]->guard);
        if (slots_[i]->inUse == 0) {
            index = i;
        }
        OsUnlock(slots_[i]->guard);
    }
    if (index < 0) {
        index = count;
        if (!growTable()) {
            DebugLog("MALTransATP: AddSerHidDevice - device table full\n");
            return -1;
        }
    }
    ATPDevice* rec = slots_[index];
    if (!setUpRecord(rec, static_cast<uint32_t>(index), entry, generation)) {
        return -1;
    }
    ATPDeviceUse use(rec);
    if (!use) {
        return -1;  // already torn down by close
    }
    startLink(rec);
    sendCommand(rec, kATPStartup1, nullptr, 0);
    sendCommand(rec, kATPStartup2, nullptr, 0);
    return index;
}

bool MALTransATP::setUpRecord(ATPDevice* rec, uint32_t index, HidDeviceEntry* entry,
                              uint32_t generation) {
    std::memset(rec->identity, 0, sizeof rec->identity);
    rec->identified = false;
    std::memset(rec->readerText, 0, sizeof rec->readerText);
    rec->msgWindow = OsCreateEvent(true, true);
    if (!rec->msgWindow) {
        DebugLog("MALTransATP: AddSerHidDevice - Failed to create msgWindow Event\n");
        return false;
    }
    rec->queueLock = OsCreateLock();
    rec->txLock = OsCreateLock();
    rec->sendRoom = OsCreateEvent(true, true);
    if (!rec->queueLock || !rec->txLock || !rec->sendRoom) {
        DebugLog("MALTransATP: AddSerHidDevice - can't create locks\n");
        OsDeleteLock(rec->queueLock);
        OsDeleteLock(rec->txLock);
        rec->queueLock = rec->txLock = nullptr;
        OsCloseHandle(rec->msgWindow);
        OsCloseHandle(rec->sendRoom);
        rec->msgWindow = rec->sendRoom = nullptr;
        return false;
    }
    RingBufferCreate(&rec->textRing, kATPTextRingSize);
    RingBufferCreate(&rec->msgRing, kATPMsgRingSize);
    rec->txSeq = 0;
    rec->rxExpected = 0;
    rec->lastAckSent = 0;
    OsAtomicExchange(&rec->outOfSequence, 0);
    rec->tickCount = 0;
    // The last reader's read thread may have ended mid-rest, its tick never to run again.
    rec->ackTick.reset();
    rec->peerAck = 0;
    rec->txLength = 0;
    std::memset(rec->txPacket, 0, sizeof rec->txPacket);
    rec->identityClass = 0;
    rec->msgRingFull = false;
    rec->textLost = false;
    std::strcpy(rec->readerText, "12345678");
    // maxCredit stays from the slot's last reader, so early kATPCredit is held to it.
    OsLock(creditLock_);
    rec->credit = 1;
    OsUnlock(creditLock_);
    rec->owner = this;
    rec->deviceId = index;
    OsLock(rec->guard);
    rec->hidDevice = entry;
    rec->hidGeneration = generation;
    rec->closing = false;
    rec->inUse = 1;
    OsUnlock(rec->guard);
    return true;
}

void MALTransATP::removeDevice(HidDeviceEntry* entry, uint32_t generation) {
    const int32_t id = findRecord(entry, generation);
    if (id >= 0) {
        tearDown(slots_[id], true);
    }
}

bool MALTransATP::tearDown(ATPDevice* rec, bool report) {
    OsLock(rec->guard);
    const bool mine = rec->inUse != 0 && !rec->closing;
    if (mine) {
        rec->closing = true;
    }
    OsUnlock(rec->guard);
    if (!mine) {
        return false;
    }
    stopTimers(rec);
    rec->tickCount = 0;
    // Every sender waiting for credit or room wakes, sees closing and returns 0.
    OsLock(creditLock_);
    OsSetEvent(rec->msgWindow);
    OsUnlock(creditLock_);
    OsLock(rec->queueLock);
    OsSetEvent(rec->sendRoom);
    OsUnlock(rec->queueLock);
    for (;;) {
        OsLock(rec->guard);
        const int32_t users = rec->users;
        OsUnlock(rec->guard);
        if (users == 0) {
            break;
        }
        OsSleep(1);
    }
    // A restartLink that was still running may have started new timers.
    stopTimers(rec);
    if (report) {
        OnDeviceRemove(rec->deviceId);
    }
    OsCloseHandle(rec->msgWindow);
    OsCloseHandle(rec->sendRoom);
    rec->msgWindow = rec->sendRoom = nullptr;
    RingBufferDestroy(&rec->textRing);
    RingBufferDestroy(&rec->msgRing);
    ATPQueuedPacket* packet = rec->unackedHead;
    while (packet) {
        ATPQueuedPacket* next = packet->next;
        delete packet;
        packet = next;
    }
    rec->unackedHead = rec->unackedTail = nullptr;
    OsDeleteLock(rec->queueLock);
    OsDeleteLock(rec->txLock);
    rec->queueLock = rec->txLock = nullptr;
    OsLock(rec->guard);
    rec->inUse = 0;
    rec->closing = false;
    rec->hidDevice = nullptr;
    OsUnlock(rec->guard);
    return true;
}

int32_t MALTransATP::readText(uint32_t deviceId, uint8_t* buffer, uint32_t size) {
    ATPDeviceUse use = useDevice(deviceId);
    if (!use || !buffer) {
        return 0;
    }
    return static_cast<int32_t>(RingBufferRead(&use->textRing, buffer, size));
}

int32_t MALTransATP::readMsg(uint32_t deviceId, uint32_t, uint8_t* buffer, uint32_t* sizeInOut) {
    if (!sizeInOut) {
        return kXportNoSize;
    }
    ATPDeviceUse use = useDevice(deviceId);
    if (!use) {
        *sizeInOut = 0;
        return kXportNoReader;
    }
    *sizeInOut = buffer ? RingBufferRead(&use->msgRing, buffer, *sizeInOut) : 0;
    return kXportOk;
}

int32_t MALTransATP::getVersion(char* buffer, uint32_t size) {
    static const char kVersion[] = "1.0";
    if (buffer && size != 0) {
        uint32_t i = 0;
        for (; i + 1 < size && kVersion[i] != '\0'; ++i) {
            buffer[i] = kVersion[i];
        }
        buffer[i] = '\0';
        buffer[size - 1] = '\0';
    }
    return 1;
}

void MALTransATP::OnDeviceAttach(uint32_t deviceId) {
    if (const TransportEventCallback callback = eventCallback_) {
        callback(deviceId, kXportAttach, 0, 0);
    }
    DebugLog("MALTransATP::OnDeviceAttach(%d)\n", static_cast<int>(deviceId));
}

void MALTransATP::OnDeviceRemove(uint32_t deviceId) {
    if (const TransportEventCallback callback = eventCallback_) {
        callback(deviceId, kXportRemove, 0, 0);
    }
    DebugLog("MALTransATP::OnDeviceRemove(%d)\n", static_cast<int>(deviceId));
}
