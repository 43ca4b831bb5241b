// The receive path: every report a reader's read thread delivers.
#include <cstring>

#include "platform/debug_log.h"
#include "transport/mal_trans_atp.h"

namespace {

constexpr uint8_t kCodeMask = 0x3F;  // byte 0's two top bits do not belong to the code

// Copies no further than the payload or the field, whichever ends first; always terminated.
void CopyText(char* field, uint32_t fieldSize, const uint8_t* text, uint32_t length) {
    const uint32_t n = length < fieldSize - 1 ? length : fieldSize - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// The last payload byte names the reader's class; anything unknown counts as class 2.
uint32_t IdentityClass(const uint8_t* payload, uint32_t length) {
    const uint8_t last = length != 0 ? payload[length - 1] : 0;
    return last >= 1 && last <= 4 ? last : 2;
}

bool IsCommandWeHandle(uint8_t code) {
    switch (code) {
        case kATPDebugText:
        case kATPReaderText:
        case kATPTextIn:
        case kATPCredit:
        case kATPTransportByte:
        case kATPCloseByte:
        case kATPWindowSize:
        case kATPIdentity:
            return true;
        default:
            return false;
    }
}

}  // namespace

void MALTransATP::OnDebugPrint(const char* text) {
    // Only its length: the reader's own text may quote what it stores, which the log never holds.
    DebugLog("MALTransATP::OnDebugPrint: %zu characters\n", text ? std::strlen(text) : 0);
}

void MALTransATP::OnReceiveReport(int32_t deviceId, const uint8_t* report, int32_t length) {
    if (deviceId < 0 || !report || length <= 0) {
        return;
    }
    // A short report reads as if zero-padded to a whole packet.
    uint8_t padded[kATPPacketSize];
    if (length < static_cast<int32_t>(kATPPacketSize)) {
        std::memset(padded, 0, sizeof padded);
        std::memcpy(padded, report, static_cast<size_t>(length));
        report = padded;
    }
    const uint8_t code = report[0] & kCodeMask;
    if (code == kATPDataIn || code == kATPStatusIn) {
        OnReceiveATP(static_cast<uint32_t>(deviceId), report);
        return;
    }
    if (!IsCommandWeHandle(code)) {
        return;
    }
    ATPCommandPacketView command;
    if (ATPParseCommandPacket(report, &command) != ATPParseResult::ok) {
        DebugLog("OnReceiveReport: command %d with bad length %d dropped\n", code, report[1]);
        return;
    }
    if (code == kATPDebugText) {
        char text[kATPMaxCommandPayload + 1];
        CopyText(text, sizeof text, command.payload, command.length);
        OnDebugPrint(text);
        return;
    }
    if (code == kATPTransportByte) {
        transportByte_ = report[2];
        return;
    }
    ATPDeviceUse use = useSlot(static_cast<uint32_t>(deviceId));
    if (!use) {
        return;
    }
    ATPDevice* rec = use.get();
    switch (code) {
        case kATPReaderText:
            CopyText(rec->readerText, sizeof rec->readerText, command.payload, command.length);
            break;
        case kATPTextIn:
            receiveText(rec, command.payload, command.length);
            break;
        case kATPCredit:
            grantCredit(rec, report[2]);
            break;
        case kATPWindowSize:
            setWindowSize(rec, report[2]);
            break;
        case kATPCloseByte:
            if (report[2] != 0) {
                rec->closeByte = report[2];
            }
            break;
        case kATPIdentity:
            receiveIdentity(rec, command.payload, command.length);
            break;
        default:
            break;
    }
}

void MALTransATP::receiveIdentity(ATPDevice* rec, const uint8_t* payload, uint32_t length) {
    rec->identityClass = IdentityClass(payload, length);
    // A flag rather than the text: an empty identity must not be answered twice either.
    if (rec->identified) {
        return;
    }
    rec->identified = true;
    CopyText(rec->identity, sizeof rec->identity, payload, length);
    sendCommand(rec, kATPIdentityAck, nullptr, 0);
    postEvent(kEvtAttach, rec->deviceId);
}

void MALTransATP::receiveText(ATPDevice* rec, const uint8_t* text, uint32_t length) {
    // Text is never resent: what does not fit is lost, and so is what follows until the event
    // thread has handed on the text before the loss, so that the loss has one place in the text.
    if (rec->textLost.load() || RingBufferWrite(&rec->textRing, text, length) < length) {
        if (!rec->textLost.exchange(true)) {
            DebugLog("OnReceiveReport: text ring full, reply text lost\n");
        }
    }
    postEvent(kEvtTextData, rec->deviceId);
    // Not left to the end of the read thread's batch: the ring could run over meanwhile.
    if (eventSignal_ &&
        (rec->textLost.load() || RingBufferCount(&rec->textRing) >= rec->textRing.capacity / 2)) {
        OsSetEvent(eventSignal_);
    }
}

void MALTransATP::OnReceiveATP(uint32_t deviceId, const uint8_t* packet) {
    if (!packet) {
        return;
    }
    ATPDeviceUse use = useDevice(deviceId);
    if (!use) {
        return;
    }
    // The whole byte: a code with a top bit set is not a data or status packet.
    switch (packet[0]) {
        case kATPDataIn:
            receiveData(use.get(), packet);
            break;
        case kATPStatusIn: {
            const ATPStatusPacketView status = ATPParseStatusPacket(packet);
            if (status.status == kATPStatusAck || status.status == kATPStatusResent) {
                processAck(use.get(), status.ack);
            } else if (status.status == kATPStatusReset) {
                resetLinkState(use.get());
            }
            break;
        }
        default:
            break;
    }
}

void MALTransATP::receiveData(ATPDevice* rec, const uint8_t* packet) {
    ATPDataPacketView data;
    const ATPParseResult parsed = ATPParseDataPacket(packet, &data);
    if (parsed == ATPParseResult::malformed) {
        DebugLog("OnReceiveATP: data packet with bad length %d dropped\n", packet[1]);
        return;
    }
    // Acknowledgement first: a repeated old packet still delivers it.
    processAck(rec, data.ack);
    const uint8_t expected = rec->rxExpected;
    if (data.seq != expected) {
        DebugLog("OnReceiveATP: Out of sequence packet loc:%d packet:%d\n", expected, data.seq);
        OsAtomicExchange(&rec->outOfSequence, 1);
        rec->ackTick.arm(rec, OnReadThreadOf(rec));
        return;
    }
    if (parsed == ATPParseResult::badChecksum) {
        DebugLog("OnReceiveATP: bad CRC hdr:%x calc:%x\n", data.crc,
                 ATPPayloadCrc(data.payload, data.length));
        return;
    }
    // Only this thread writes the ring, so the room can only grow before the write.
    if (rec->msgRing.capacity - RingBufferCount(&rec->msgRing) < data.length) {
        // Not acknowledged, so the reader sends it again once the event thread catches up.
        if (!rec->msgRingFull) {
            rec->msgRingFull = true;
            DebugLog("OnReceiveATP: message ring full, packet %d left to be resent\n", data.seq);
        }
        return;
    }
    rec->msgRingFull = false;
    RingBufferWrite(&rec->msgRing, data.payload, data.length);
    rec->rxExpected = ATPNextSeq(data.seq);
    // Posted before the tick is armed: a tick that finds the timer set also sees the post.
    const bool urgent = data.length < kATPMaxDataPayload ||
                        RingBufferCount(&rec->msgRing) >= rec->msgRing.capacity / 2;
    const ATPPostResult posted = events_.post(kEvtMsgData, rec->deviceId);
    if (rec->ackTick.messageData(posted == ATPPostResult::queued, urgent)) {
        wakeEventThread();
    }
    rec->ackTick.arm(rec, OnReadThreadOf(rec));
}
