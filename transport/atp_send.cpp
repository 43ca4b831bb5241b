// Sending: credit, data and text packets, acknowledgement, retransmission and link start.
#include <cstring>
#include <new>

#include "platform/debug_log.h"
#include "transport/mal_trans_atp.h"

namespace {

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

// Distance from a to b in sequence space (b at or after a).
uint8_t SeqDistance(uint8_t a, uint8_t b) {
    return static_cast<uint8_t>(b - a);
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

int32_t MALTransATP::sendPacket(ATPDevice* rec, const uint8_t* packet, uint32_t epoch) {
    if (SpendsCredit(packet[0]) && !waitLikeCredit(rec, rec->msgWindow, &MALTransATP::takeCredit,
                                                   "sendDeviceMessage", "MsgWindow")) {
        return 0;
    }
    if (epoch != kATPAnyEpoch && epoch != rec->linkEpoch) {
        // A reset while it waited renumbered the link: the packet is stale, the credit unspent.
        grantCredit(rec, 1);
        return 0;
    }
    writeReport(rec, packet);
    return packet[1];
}

void MALTransATP::writeReport(ATPDevice* rec, const uint8_t* packet) {
    // Once the entry holds another device, nothing of this reader may reach it (the HID layer
    // checks again under its lock).
    if (rec->hidDevice && rec->hidDevice->generation != rec->hidGeneration) {
        return;
    }
    writer_(rec->hidDevice, rec->hidGeneration, packet, static_cast<int32_t>(kATPPacketSize),
            writerContext_);
}

bool MALTransATP::waitLikeCredit(ATPDevice* rec, OsHandle event,
                                 bool (MALTransATP::*take)(ATPDevice*), const char* operation,
                                 const char* window) {
    const ATPTimings& timings = ATPTimingsForTest();
    for (int timeouts = 0;;) {
        if (rec->closing) {
            return false;
        }
        if ((this->*take)(rec)) {
            return true;
        }
        // Signalled but taken by another sender, or not yet there: look again after the wait.
        if (OsWait(event, timings.creditWaitMs) == kWaitSignalled || rec->closing) {
            continue;
        }
        DebugLog("MALTransATP:%s: %s Timeout - Ping Retry\n", operation, window);
        uint8_t ping[kATPPacketSize];
        ATPBuildPing(ping);
        writeReport(rec, ping);
        if (++timeouts >= timings.pingRetries) {
            DebugLog("MALTransATP:%s: Max Ping Retries - giving up\n", operation);
            return false;
        }
    }
}

bool MALTransATP::takeCredit(ATPDevice* rec) {
    // The window is cleared under the lock, so a grant cannot slip in between.
    OsLock(creditLock_);
    const bool took = rec->credit > 0;
    if (took) {
        --rec->credit;
    }
    if (rec->credit <= 0) {
        rec->credit = 0;
        if (!rec->closing) {
            OsResetEvent(rec->msgWindow);
        }
    }
    OsUnlock(creditLock_);
    return took;
}

bool MALTransATP::takeSendRoom(ATPDevice* rec) {
    OsLock(rec->queueLock);
    const bool room = SeqDistance(rec->peerAck, rec->txSeq) < kATPMaxInFlight;
    if (!room && !rec->closing) {
        OsResetEvent(rec->sendRoom);
    }
    OsUnlock(rec->queueLock);
    return room;
}

void MALTransATP::grantCredit(ATPDevice* rec, uint8_t amount) {
    OsLock(creditLock_);
    // A grant lets at least one packet go, also before the reader has named its window.
    const int32_t ceiling = rec->maxCredit > 0 ? rec->maxCredit : 1;
    rec->credit += amount;
    if (rec->credit > ceiling) {
        rec->credit = ceiling;
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
        return kXportNoReader;
    }
    ATPDevice* rec = use.get();
    if (!bytes) {
        length = 0;
    }
    OsLock(rec->txLock);
    uint32_t epoch = kATPAnyEpoch;
    bool going = true;
    for (uint32_t offset = 0; offset < length && going && !rec->closing;) {
        const uint32_t room = kATPMaxDataPayload - static_cast<uint32_t>(rec->txLength);
        const uint32_t take = length - offset < room ? length - offset : room;
        std::memcpy(rec->txPacket + kATPDataHeaderSize + rec->txLength, bytes + offset, take);
        rec->txLength += static_cast<int32_t>(take);
        offset += take;
        if (rec->txLength == static_cast<int32_t>(kATPMaxDataPayload)) {
            going = flushTxPacket(rec, &epoch);
        }
    }
    // Every message ends with a packet of its own, empty after a multiple of 56.
    if (going) {
        flushTxPacket(rec, &epoch);
    }
    OsUnlock(rec->txLock);
    return kXportOk;
}

bool MALTransATP::flushTxPacket(ATPDevice* rec, uint32_t* epoch) {
    uint8_t packet[kATPPacketSize];
    bool numbered = false;
    bool queued = false;
    if (waitLikeCredit(rec, rec->sendRoom, &MALTransATP::takeSendRoom, "flushTxPacket",
                       "AckWindow")) {
        auto* copy = new (std::nothrow) ATPQueuedPacket;
        // Numbered and queued in one step with the link check, so a reset cannot come between
        // and leave a packet of the old numbering at the head of the new queue.
        OsLock(rec->queueLock);
        numbered = *epoch == kATPAnyEpoch || *epoch == rec->linkEpoch;
        if (numbered) {
            *epoch = rec->linkEpoch;
            const uint8_t seq = rec->txSeq;
            rec->txSeq = ATPNextSeq(seq);
            ATPBuildDataPacket(packet, kATPDataOut, rec->rxExpected, seq,
                               rec->txPacket + kATPDataHeaderSize,
                               static_cast<uint32_t>(rec->txLength));
            // Queued before sending: a packet the credit wait gives up on goes out with a resend.
            if (copy) {
                std::memcpy(copy->bytes, packet, kATPPacketSize);
                copy->next = nullptr;
                (rec->unackedTail ? rec->unackedTail->next : rec->unackedHead) = copy;
                rec->unackedTail = copy;
                queued = true;
            }
        }
        OsUnlock(rec->queueLock);
        if (queued) {
            armTimer(rec, &ATPDevice::retransmitTimer, ATPTimingsForTest().retransmitTickMs,
                     RetransmitTimerCallback);
        } else {
            delete copy;
        }
        if (numbered && !copy) {
            DebugLog("MALTransATP:flushTxPacket: can't allocate memory\n");
        }
        if (!numbered) {
            // The reader forgot the start of this message; the rest alone would be garbage.
            DebugLog("MALTransATP:flushTxPacket: link reset during a message - rest dropped\n");
        }
    }
    if (numbered) {
        sendPacket(rec, packet, *epoch);
    }
    rec->txLength = 0;
    std::memset(rec->txPacket, 0, sizeof rec->txPacket);
    rec->tickCount = 0;
    return numbered;
}

void MALTransATP::processAck(ATPDevice* rec, uint8_t ack) {
    PacketList acked;
    OsLock(rec->queueLock);
    const uint8_t base = rec->peerAck;
    const uint8_t txSeq = rec->txSeq;
    const uint8_t advance = SeqDistance(base, ack);
    const bool inRange = advance <= SeqDistance(base, txSeq);
    if (inRange) {
        rec->peerAck = ack;
        while (rec->unackedHead && SeqDistance(base, SeqOf(rec->unackedHead)) < advance) {
            ATPQueuedPacket* packet = rec->unackedHead;
            rec->unackedHead = packet->next;
            acked.append(packet);
        }
        if (!rec->unackedHead) {
            rec->unackedTail = nullptr;
        }
        if (advance != 0) {
            OsSetEvent(rec->sendRoom);
        }
    }
    OsUnlock(rec->queueLock);
    if (!inRange) {
        // From before a link reset, or not ours: taking it would skip or free unsent packets.
        DebugLog("MALTransATP: acknowledgement %d outside %d..%d ignored\n", ack, base, txSeq);
        return;
    }
    rec->tickCount = 0;
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
    const uint8_t inFlight = SeqDistance(peerAck, rec->txSeq);
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
        if (SeqDistance(peerAck, SeqOf(packet)) >= inFlight) {
            packet->next = acked;
            acked = packet;
            continue;
        }
        // After one that found no credit, the rest wait for the next round.
        if (sending && sendPacket(rec, packet->bytes, epoch) == 0) {
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
        if (epoch != rec->linkEpoch ||
            SeqDistance(rec->peerAck, SeqOf(packet)) >= SeqDistance(rec->peerAck, rec->txSeq)) {
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
    rec->rxExpected = 0;
    rec->lastAckSent = 0;
    OsAtomicExchange(&rec->outOfSequence, 0);
    RingBufferReset(&rec->msgRing);
    OsLock(rec->queueLock);
    ATPQueuedPacket* dropped = rec->unackedHead;
    rec->unackedHead = rec->unackedTail = nullptr;
    rec->txSeq = 0;
    rec->peerAck = 0;
    ++rec->linkEpoch;
    OsSetEvent(rec->sendRoom);  // a writer waiting for room learns of the reset
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

void MALTransATP::armTimer(ATPDevice* rec, OsTimer* ATPDevice::*slot, uint32_t periodMs,
                           OsTimerCallback callback) {
    OsLock(rec->guard);
    const bool wanted = !rec->closing && !(rec->*slot);
    OsUnlock(rec->guard);
    if (!wanted) {
        return;
    }
    OsTimer* timer = OsTimerCreate(periodMs, true, callback, rec);
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
            rec->owner->armTimer(rec, &ATPDevice::retransmitTimer,
                                 ATPTimingsForTest().retransmitTickMs, RetransmitTimerCallback);
        }
        return;
    }
    if (++rec->tickCount >= ATPTimingsForTest().ticksBeforeResend) {
        rec->tickCount = 0;
        rec->owner->retransmit(rec);
    }
}
