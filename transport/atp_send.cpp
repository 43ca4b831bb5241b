// Sending: credit, data and text packets, acknowledgement, retransmission and link start.
#include <cstring>
#include <new>

#include "platform/debug_log.h"
#include "transport/mal_trans_atp.h"

namespace {

// True when sequence number a comes before b. Numbers wrap at 256, so "before" means up to
// 128 behind, far more than a reader's window leaves unacknowledged.
bool SeqBefore(uint8_t a, uint8_t b) {
    return static_cast<int8_t>(static_cast<uint8_t>(a - b)) < 0;
}

bool SpendsCredit(uint8_t code) {
    return code == kATPDataOut || code == kATPTextIn || code == kATPTextOut;
}

uint8_t SeqOf(const ATPQueuedPacket* packet) {
    return packet->bytes[3];
}

void FreePackets(ATPQueuedPacket* packet) {
    while (packet) {
        ATPQueuedPacket* next = packet->next;
        delete packet;
        packet = next;
    }
}

struct PacketList {
    ATPQueuedPacket* head = nullptr;
    ATPQueuedPacket* tail = nullptr;

    void append(ATPQueuedPacket* packet) {
        packet->next = nullptr;
        (tail ? tail->next : head) = packet;
        tail = packet;
    }
};

}  // namespace

int32_t MALTransATP::sendDeviceMessage(uint32_t deviceId, const uint8_t* packet) {
    if (!packet) {
        return 0;
    }
    ATPDeviceUse use = useDevice(deviceId);
    return use ? sendPacket(use.get(), packet) : 0;
}

int32_t MALTransATP::SendDeviceMessage(uint32_t deviceId, uint8_t command, const uint8_t* payload,
                                       uint32_t length) {
    if (length > kATPMaxCommandPayload) {
        return 0;
    }
    ATPDeviceUse use = useDevice(deviceId);
    return use ? sendCommand(use.get(), command, payload, length) : 0;
}

int32_t MALTransATP::sendCommand(ATPDevice* rec, uint8_t command, const uint8_t* payload,
                                 uint32_t length) {
    uint8_t packet[kATPPacketSize];
    if (!ATPBuildCommandPacket(packet, command, payload, length)) {
        return 0;
    }
    return sendPacket(rec, packet);
}

int32_t MALTransATP::sendPacket(ATPDevice* rec, const uint8_t* packet) {
    if (SpendsCredit(packet[0]) && !waitForCredit(rec)) {
        return 0;
    }
    writeReport(rec, packet);
    return packet[1];
}

void MALTransATP::writeReport(ATPDevice* rec, const uint8_t* packet) {
    writer_(rec->hidDevice, packet, static_cast<int32_t>(kATPPacketSize), writerContext_);
}

bool MALTransATP::waitForCredit(ATPDevice* rec) {
    const ATPTimings& timings = ATPTimingsForTest();
    for (int waits = 1;; ++waits) {
        const int result =
            rec->closing ? kWaitTimeout : OsWait(rec->msgWindow, timings.creditWaitMs);
        if (rec->closing) {
            return false;
        }
        if (result == kWaitSignalled) {
            // The window is cleared under the lock, so a grant cannot slip in between.
            OsLock(creditLock_);
            if (--rec->credit <= 0) {
                rec->credit = 0;
                if (!rec->closing) {
                    OsResetEvent(rec->msgWindow);
                }
            }
            OsUnlock(creditLock_);
            return true;
        }
        DebugLog(0, "MALTransATP:sendDeviceMessage: MsgWindow Timeout - Ping Retry\n");
        uint8_t ping[kATPPacketSize];
        ATPBuildPing(ping);
        writeReport(rec, ping);
        if (waits >= timings.pingRetries) {
            DebugLog(0, "MALTransATP:sendDeviceMessage: Max Ping Retries - giving up\n");
            return false;
        }
    }
}

void MALTransATP::grantCredit(ATPDevice* rec, uint8_t amount) {
    OsLock(creditLock_);
    rec->credit += amount;
    if (rec->credit > rec->maxCredit) {
        rec->credit = rec->maxCredit;
    }
    OsSetEvent(rec->msgWindow);
    OsUnlock(creditLock_);
}

void MALTransATP::setWindowSize(ATPDevice* rec, uint8_t size) {
    OsLock(creditLock_);
    rec->credit = rec->maxCredit = size;
    if (rec->credit > 0 || rec->closing) {
        OsSetEvent(rec->msgWindow);
    } else {
        OsResetEvent(rec->msgWindow);
    }
    OsUnlock(creditLock_);
}

int32_t MALTransATP::writeText(uint32_t deviceId, const uint8_t* text, uint32_t length) {
    if (length == 0 || !text) {
        return 0;
    }
    ATPDeviceUse use = useDevice(deviceId);
    if (!use) {
        return 0;
    }
    ATPDevice* rec = use.get();
    int32_t total = 0;
    OsLock(rec->txLock);
    for (uint32_t offset = 0; offset < length;) {
        const uint32_t chunk =
            length - offset < kATPMaxCommandPayload ? length - offset : kATPMaxCommandPayload;
        const int32_t sent = sendCommand(rec, kATPTextOut, text + offset, chunk);
        total += sent;
        offset += chunk;
        if (sent < static_cast<int32_t>(chunk)) {
            break;
        }
    }
    OsUnlock(rec->txLock);
    return total;
}

int32_t MALTransATP::writeMsg(uint32_t deviceId, uint32_t, const uint8_t* bytes, uint32_t length) {
    ATPDeviceUse use = useDevice(deviceId);
    if (!use) {
        return -3;
    }
    ATPDevice* rec = use.get();
    if (!bytes) {
        length = 0;
    }
    OsLock(rec->txLock);
    for (uint32_t offset = 0; offset < length && !rec->closing;) {
        const uint32_t room = kATPMaxDataPayload - static_cast<uint32_t>(rec->txLength);
        const uint32_t take = length - offset < room ? length - offset : room;
        std::memcpy(rec->txPacket + kATPDataHeaderSize + rec->txLength, bytes + offset, take);
        rec->txLength += static_cast<int32_t>(take);
        offset += take;
        if (rec->txLength == static_cast<int32_t>(kATPMaxDataPayload)) {
            flushTxPacket(rec);
        }
    }
    // Every message ends with a packet of its own, empty after a multiple of 56.
    flushTxPacket(rec);
    OsUnlock(rec->txLock);
    return 0;
}

void MALTransATP::flushTxPacket(ATPDevice* rec) {
    uint8_t packet[kATPPacketSize];
    const uint8_t seq = rec->txSeq.fetch_add(1);
    ATPBuildDataPacket(packet, kATPDataOut, rec->rxExpected, seq,
                       rec->txPacket + kATPDataHeaderSize, static_cast<uint32_t>(rec->txLength));
    // Queued before sending: a packet the credit wait gives up on goes out with a resend.
    if (auto* copy = new (std::nothrow) ATPQueuedPacket) {
        std::memcpy(copy->bytes, packet, kATPPacketSize);
        copy->next = nullptr;
        OsLock(rec->queueLock);
        (rec->unackedTail ? rec->unackedTail->next : rec->unackedHead) = copy;
        rec->unackedTail = copy;
        OsUnlock(rec->queueLock);
        armTimer(rec, &ATPDevice::retransmitTimer);
    } else {
        DebugLog(0, "MALTransATP:flushTxPacket: can't allocate memory\n");
    }
    sendPacket(rec, packet);
    rec->txLength = 0;
    std::memset(rec->txPacket, 0, sizeof rec->txPacket);
    rec->tickCount = 0;
}

void MALTransATP::processAck(ATPDevice* rec, uint8_t ack) {
    rec->tickCount = 0;
    PacketList acked;
    OsLock(rec->queueLock);
    // Only forward: a repeated old packet of the reader carries an old acknowledgement.
    if (!SeqBefore(ack, rec->peerAck)) {
        rec->peerAck = ack;
    }
    while (rec->unackedHead && SeqBefore(SeqOf(rec->unackedHead), ack)) {
        ATPQueuedPacket* packet = rec->unackedHead;
        rec->unackedHead = packet->next;
        acked.append(packet);
    }
    if (!rec->unackedHead) {
        rec->unackedTail = nullptr;
    }
    OsUnlock(rec->queueLock);
    FreePackets(acked.head);
}

void MALTransATP::sendStatus(ATPDevice* rec, uint8_t code) {
    uint8_t packet[kATPPacketSize];
    ATPBuildStatusPacket(packet, kATPStatusOut, rec->rxExpected, rec->txSeq, code);
    sendPacket(rec, packet);
}

void MALTransATP::retransmit(ATPDevice* rec) {
    OsLock(rec->queueLock);
    ATPQueuedPacket* taken = rec->unackedHead;
    rec->unackedHead = rec->unackedTail = nullptr;
    const uint32_t epoch = rec->linkEpoch;
    const uint8_t peerAck = rec->peerAck;
    OsUnlock(rec->queueLock);
    if (!taken) {
        return;
    }
    // Sent outside queueLock: the credit wait can take minutes, and the read thread needs the
    // lock for every acknowledgement meanwhile.
    PacketList resent;
    ATPQueuedPacket* acked = nullptr;
    bool sending = true;
    while (taken) {
        ATPQueuedPacket* packet = taken;
        taken = packet->next;
        if (SeqBefore(SeqOf(packet), peerAck)) {
            packet->next = acked;
            acked = packet;
            continue;
        }
        // After one that found no credit, the rest wait for the next round.
        if (sending && sendPacket(rec, packet->bytes) == 0) {
            sending = false;
        }
        resent.append(packet);
    }
    // Back in front of what was queued meanwhile, minus what the reader acknowledged since or
    // what a link reset made obsolete.
    PacketList keep;
    OsLock(rec->queueLock);
    while (resent.head) {
        ATPQueuedPacket* packet = resent.head;
        resent.head = packet->next;
        if (epoch != rec->linkEpoch || SeqBefore(SeqOf(packet), rec->peerAck)) {
            packet->next = acked;
            acked = packet;
        } else {
            keep.append(packet);
        }
    }
    if (keep.head) {
        keep.tail->next = rec->unackedHead;
        if (!rec->unackedHead) {
            rec->unackedTail = keep.tail;
        }
        rec->unackedHead = keep.head;
    }
    OsUnlock(rec->queueLock);
    FreePackets(acked);
    sendStatus(rec, kATPStatusResent);
}

void MALTransATP::resetLinkState(ATPDevice* rec) {
    // The packet being filled belongs to the writer under txLock (the read thread must never
    // wait for it); a reset only renumbers what follows.
    rec->txSeq = 0;
    rec->rxExpected = 0;
    rec->lastAckSent = 0;
    OsAtomicExchange(&rec->outOfSequence, 0);
    RingBufferReset(&rec->msgRing);
    OsLock(rec->queueLock);
    ATPQueuedPacket* dropped = rec->unackedHead;
    rec->unackedHead = rec->unackedTail = nullptr;
    rec->peerAck = 0;
    ++rec->linkEpoch;
    OsUnlock(rec->queueLock);
    FreePackets(dropped);
}

void MALTransATP::stopTimers(ATPDevice* rec) {
    OsLock(rec->guard);
    OsTimer* ack = rec->ackTimer;
    OsTimer* resend = rec->retransmitTimer;
    rec->ackTimer = rec->retransmitTimer = nullptr;
    OsUnlock(rec->guard);
    OsTimerCancel(ack);
    OsTimerCancel(resend);
}

void MALTransATP::armTimer(ATPDevice* rec, OsTimer* ATPDevice::*slot) {
    OsLock(rec->guard);
    const bool wanted = !rec->closing && !(rec->*slot);
    OsUnlock(rec->guard);
    if (!wanted) {
        return;
    }
    const bool ack = slot == &ATPDevice::ackTimer;
    const ATPTimings& timings = ATPTimingsForTest();
    OsTimer* timer =
        ack ? OsTimerCreate(timings.ackTickMs, true, AckTimerCallback, rec)
            : OsTimerCreate(timings.retransmitTickMs, true, RetransmitTimerCallback, rec);
    OsLock(rec->guard);
    // A removal or another thread arming it may have come first; never leave a timer untracked.
    const bool keep = !rec->closing && !(rec->*slot);
    if (keep) {
        rec->*slot = timer;
    }
    OsUnlock(rec->guard);
    if (!keep) {
        OsTimerCancel(timer);
    }
}

void MALTransATP::idleTimer(ATPDevice* rec, OsTimer* ATPDevice::*slot, OsTimer* timer) {
    OsLock(rec->guard);
    const bool current = rec->*slot == timer;
    if (current) {
        rec->*slot = nullptr;
    }
    OsUnlock(rec->guard);
    if (current) {
        OsTimerCancel(timer);
    }
}

void MALTransATP::startLink(ATPDevice* rec) {
    resetLinkState(rec);
    // The timers start again with the first data to acknowledge or to resend.
    stopTimers(rec);
    rec->tickCount = 0;
    sendCommand(rec, kATPPing, nullptr, 0);
    sendStatus(rec, kATPStatusReset);
}

void MALTransATP::restartLink(uint32_t deviceId) {
    ATPDeviceUse use = useDevice(deviceId);
    if (use) {
        startLink(use.get());
    }
}

void MALTransATP::AckTimerCallback(OsTimer* timer, void* argument) {
    auto* rec = static_cast<ATPDevice*>(argument);
    if (!ATPDeviceEnterFromTimer(rec, timer)) {
        return;
    }
    ATPDeviceUse use = ATPDeviceUse::adopt(rec);
    const uint8_t expected = rec->rxExpected;
    const bool forced = OsAtomicExchange(&rec->outOfSequence, 0) != 0;
    if (forced || rec->lastAckSent != expected) {
        rec->lastAckSent = expected;
        rec->owner->sendStatus(rec, kATPStatusAck);
        return;
    }
    // Nothing to acknowledge: stop. Data that came while this tick looked found the timer
    // still set and armed nothing, so look once more after letting go of it.
    rec->owner->idleTimer(rec, &ATPDevice::ackTimer, timer);
    // The flag is only ever exchanged; raised again, the next timer's tick answers it.
    const bool raised = OsAtomicExchange(&rec->outOfSequence, 0) != 0;
    if (raised) {
        OsAtomicExchange(&rec->outOfSequence, 1);
    }
    if (raised || rec->lastAckSent != rec->rxExpected) {
        rec->owner->armTimer(rec, &ATPDevice::ackTimer);
    }
}

void MALTransATP::RetransmitTimerCallback(OsTimer* timer, void* argument) {
    auto* rec = static_cast<ATPDevice*>(argument);
    if (!ATPDeviceEnterFromTimer(rec, timer)) {
        return;
    }
    ATPDeviceUse use = ATPDeviceUse::adopt(rec);
    const auto queueEmpty = [rec] {
        OsLock(rec->queueLock);
        const bool empty = rec->unackedHead == nullptr;
        OsUnlock(rec->queueLock);
        return empty;
    };
    if (queueEmpty()) {
        // Everything is acknowledged: stop until the next packet is queued (looked at again
        // after letting go, as a packet queued meanwhile armed nothing).
        rec->owner->idleTimer(rec, &ATPDevice::retransmitTimer, timer);
        if (!queueEmpty()) {
            rec->owner->armTimer(rec, &ATPDevice::retransmitTimer);
        }
        return;
    }
    if (++rec->tickCount >= ATPTimingsForTest().ticksBeforeResend) {
        rec->tickCount = 0;
        rec->owner->retransmit(rec);
    }
}
