#include "transport/atp_event_queue.h"

#include <new>

#include "platform/debug_log.h"

namespace {

constexpr uint8_t kTextQueued = 1;
constexpr uint8_t kMsgQueued = 2;

}  // namespace

ATPEventQueue::ATPEventQueue() : lock_(OsCreateLock()), entries_{} {}

ATPEventQueue::~ATPEventQueue() {
    clear();
    OsDeleteLock(lock_);
}

uint8_t ATPEventQueue::dataBit(uint32_t type) {
    if (type == kEvtTextData) {
        return kTextQueued;
    }
    return type == kEvtMsgData ? kMsgQueued : 0;
}

ATPPostResult ATPEventQueue::post(uint32_t type, uint64_t value, uint32_t generation) {
    const uint8_t bit = dataBit(type);
    bool logOverflow = false;
    bool dropped = false;
    OsLock(lock_);
    if (bit != 0 && value < kATPMaxDevices) {
        if (dataQueued_[value] & bit) {
            OsUnlock(lock_);
            return ATPPostResult::merged;
        }
        dataQueued_[value] |= bit;
    }
    if (count_ < kATPEventQueueSize && overflowHead_ == nullptr) {
        entries_[writeIndex_] = ATPEvent{type, value, generation};
        writeIndex_ = (writeIndex_ + 1) % kATPEventQueueSize;
        ++count_;
    } else if (Overflow* node =
                   new (std::nothrow) Overflow{nullptr, ATPEvent{type, value, generation}}) {
        (overflowTail_ ? overflowTail_->next : overflowHead_) = node;
        overflowTail_ = node;
        logOverflow = !overflowLogged_;
        overflowLogged_ = true;
    } else {
        if (bit != 0 && value < kATPMaxDevices) {
            dataQueued_[value] &= static_cast<uint8_t>(~bit);
        }
        dropped = true;
    }
    OsUnlock(lock_);
    if (logOverflow) {
        DebugLog("MALTransATP: event queue full, holding events in overflow\n");
    }
    if (dropped) {
        DebugLog("MALTransATP: event queue overflow - can't allocate memory, event %u lost\n",
                 type);
    }
    return dropped ? ATPPostResult::dropped : ATPPostResult::queued;
}

bool ATPEventQueue::take(ATPEvent* out) {
    Overflow* spent = nullptr;
    OsLock(lock_);
    if (count_ == 0) {
        OsUnlock(lock_);
        return false;
    }
    *out = entries_[readIndex_];
    readIndex_ = (readIndex_ + 1) % kATPEventQueueSize;
    --count_;
    const uint8_t bit = dataBit(out->type);
    if (bit != 0 && out->value < kATPMaxDevices) {
        // Cleared before the caller reads the ring, so bytes written later post anew.
        dataQueued_[out->value] &= static_cast<uint8_t>(~bit);
    }
    // Overflow events are newer than all of the ring, so appending them keeps the order.
    while (overflowHead_ != nullptr && count_ < kATPEventQueueSize) {
        Overflow* node = overflowHead_;
        overflowHead_ = node->next;
        entries_[writeIndex_] = node->event;
        writeIndex_ = (writeIndex_ + 1) % kATPEventQueueSize;
        ++count_;
        node->next = spent;
        spent = node;
    }
    if (overflowHead_ == nullptr) {
        overflowTail_ = nullptr;
        overflowLogged_ = false;
    }
    OsUnlock(lock_);
    while (spent != nullptr) {
        Overflow* next = spent->next;
        delete spent;
        spent = next;
    }
    return true;
}

void ATPEventQueue::clear() {
    OsLock(lock_);
    while (overflowHead_ != nullptr) {
        Overflow* next = overflowHead_->next;
        delete overflowHead_;
        overflowHead_ = next;
    }
    overflowTail_ = nullptr;
    readIndex_ = writeIndex_ = count_ = 0;
    for (uint8_t& flags : dataQueued_) {
        flags = 0;
    }
    OsUnlock(lock_);
}
