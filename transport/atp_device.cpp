#include "transport/atp_device.h"

#include <cstring>
#include <new>

namespace {

// Process-wide and never freed (see ATPDevice); reachable, so leak checkers stay quiet.
ATPDevice* freeRecords = nullptr;

OsLockRef PoolLock() {
    static OsLockRef lock = OsCreateLock();
    return lock;
}

// Everything but the guard; called while nobody uses the record.
void ResetRecord(ATPDevice* rec) {
    OsLock(rec->guard);
    rec->inUse = 0;
    rec->closing = false;
    rec->users = 0;
    rec->ackTimer = nullptr;
    rec->retransmitTimer = nullptr;
    OsUnlock(rec->guard);
    rec->deviceId = 0;
    rec->hidDevice = nullptr;
    rec->hidGeneration = 0;
    rec->owner = nullptr;
    rec->closeByte = 0;
    rec->textRing = RingBuffer{};
    rec->msgRing = RingBuffer{};
    std::memset(rec->identity, 0, sizeof rec->identity);
    rec->identified = false;
    std::memset(rec->readerText, 0, sizeof rec->readerText);
    rec->identityClass = 0;
    rec->msgRingFull = false;
    rec->textLost = false;
    rec->credit = 0;
    rec->maxCredit = 0;
    rec->msgWindow = nullptr;
    rec->txSeq = 0;
    rec->rxExpected = 0;
    rec->lastAckSent = 0;
    OsAtomicExchange(&rec->outOfSequence, 0);
    rec->tickCount = 0;
    rec->ackTick.reset();
    rec->queueLock = nullptr;
    rec->unackedHead = nullptr;
    rec->unackedTail = nullptr;
    rec->peerAck = 0;
    rec->linkEpoch = 0;
    rec->sendRoom = nullptr;
    rec->txLock = nullptr;
    std::memset(rec->txPacket, 0, sizeof rec->txPacket);
    rec->txLength = 0;
    rec->poolNext = nullptr;
}

}  // namespace

ATPDevice* ATPDeviceAllocate() {
    OsLockRef poolLock = PoolLock();
    OsLock(poolLock);
    ATPDevice* rec = freeRecords;
    if (rec) {
        freeRecords = rec->poolNext;
    }
    OsUnlock(poolLock);
    if (!rec) {
        rec = new (std::nothrow) ATPDevice;
        if (!rec) {
            return nullptr;
        }
        rec->guard = OsCreateLock();
        if (!rec->guard) {
            delete rec;
            return nullptr;
        }
    }
    ResetRecord(rec);
    return rec;
}

void ATPDeviceRecycle(ATPDevice* rec) {
    OsLockRef poolLock = PoolLock();
    OsLock(poolLock);
    rec->poolNext = freeRecords;
    freeRecords = rec;
    OsUnlock(poolLock);
}

bool ATPDeviceEnter(ATPDevice* rec) {
    OsLock(rec->guard);
    const bool usable = rec->inUse != 0 && !rec->closing;
    if (usable) {
        ++rec->users;
    }
    OsUnlock(rec->guard);
    return usable;
}

bool ATPDeviceEnterFromTimer(ATPDevice* rec, OsTimer* timer) {
    OsLock(rec->guard);
    const bool usable = rec->inUse != 0 && !rec->closing &&
                        (timer == rec->ackTimer || timer == rec->retransmitTimer);
    if (usable) {
        ++rec->users;
    }
    OsUnlock(rec->guard);
    return usable;
}

void ATPDeviceLeave(ATPDevice* rec) {
    OsLock(rec->guard);
    --rec->users;
    OsUnlock(rec->guard);
}
