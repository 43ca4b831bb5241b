#include "transport/atp_ack_tick.h"

#include "hid/hid.h"
#include "transport/mal_trans_atp.h"

bool ATPAckTick::messageData(bool queued, bool urgent) {
    if (!urgent) {
        if (queued) {
            dataWakeOwed_ = true;
        }
        return false;
    }
    // Also when merged: the queued event may be waiting for a tick.
    return dataWakeOwed_.exchange(false) || queued;
}

void ATPAckTick::arm(ATPDevice* rec, bool onReadThread) {
    const uint32_t period = ATPTimingsForTest().ackTickMs;
    if (onReadThread) {
        if (resting_) {
            return;
        }
        nextMs_ = HidNowMs() + period;
        resting_ = HidRestUntil(rec->hidDevice, nextMs_, OnRest, rec);
        if (resting_) {
            return;
        }
    }
    rec->owner->armTimer(rec, &ATPDevice::ackTimer, period, OnTimer);
}

void ATPAckTick::reset() {
    dataWakeOwed_ = false;
    dataWaits_ = 0;
    resting_ = false;
    nextMs_ = 0;
}

bool ATPAckTick::tick(ATPDevice* rec) {
    const uint8_t expected = rec->rxExpected;
    const bool forced = OsAtomicExchange(&rec->outOfSequence, 0) != 0;
    const bool owed = forced || rec->lastAckSent != expected;
    if (owed) {
        rec->lastAckSent = expected;
        rec->owner->sendStatus(rec, kATPStatusAck);
    }
    // After the acknowledgement: a thread woken first could hold it up.
    wakeForData(rec, !owed);
    return owed;
}

void ATPAckTick::wakeForData(ATPDevice* rec, bool last) {
    if (!dataWakeOwed_.load()) {
        return;
    }
    if (!last && dataWaits_.fetch_add(1) + 1 < kTicksPerDataWake) {
        return;
    }
    if (dataWakeOwed_.exchange(false)) {
        dataWaits_ = 0;
        OsSetEvent(rec->owner->eventSignal_);
    }
}

void ATPAckTick::OnTimer(OsTimer* timer, void* argument) {
    auto* rec = static_cast<ATPDevice*>(argument);
    if (!ATPDeviceEnterFromTimer(rec, timer)) {
        return;
    }
    ATPDeviceUse use = ATPDeviceUse::adopt(rec);
    ATPAckTick& self = rec->ackTick;
    if (self.tick(rec)) {
        return;
    }
    // Nothing to acknowledge: stop. Data that came while this tick looked found the timer
    // still set and armed nothing, so look once more after letting go of it.
    rec->owner->idleTimer(rec, &ATPDevice::ackTimer, timer);
    self.wakeForData(rec, true);
    // The flag is only ever exchanged; raised again, the next timer's tick answers it.
    const bool raised = OsAtomicExchange(&rec->outOfSequence, 0) != 0;
    if (raised) {
        OsAtomicExchange(&rec->outOfSequence, 1);
    }
    if (raised || rec->lastAckSent != rec->rxExpected) {
        self.arm(rec, false);
    }
}

void ATPAckTick::OnRest(HidDeviceEntry* entry, void* argument) {
    auto* rec = static_cast<ATPDevice*>(argument);
    ATPDeviceUse use(rec);
    // Since the rest was asked for, the reader may have gone and its record become another's.
    if (!use || rec->hidDevice != entry || rec->hidGeneration != entry->generation) {
        return;
    }
    ATPAckTick& self = rec->ackTick;
    self.resting_ = false;
    if (!self.tick(rec)) {
        return;
    }
    // A period after the last one was due, so the tick's own time does not shift the cadence;
    // ticks missed meanwhile are skipped, not bunched.
    const int64_t period = ATPTimingsForTest().ackTickMs;
    const int64_t now = HidNowMs();
    self.nextMs_ += period;
    if (self.nextMs_ <= now) {
        self.nextMs_ += ((now - self.nextMs_) / period + 1) * period;
    }
    self.resting_ = HidRestUntil(entry, self.nextMs_, OnRest, rec);
}
