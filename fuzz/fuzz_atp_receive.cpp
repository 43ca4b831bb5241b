// The ATP receive path of a live reader record, on through the AAP layer. Input: a flags byte,
// then the reports, 64 bytes each (the last may be short). Flags: bit 0 fixes the checksum and
// bit 1 the sequence number of every data packet, so mutations reach the rings and the AAP
// parser; bit 2 delivers the events after every report instead of once at the end.
//
// Invariants: the host writes only well-formed 64-byte packets; events name the reader and
// stay within its rings; the AAP layer drains every byte it is told about; the messages and
// text it reports are no longer than the data and text that came in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "protocol/aap_layer.h"
#include "transport/mal_trans_atp.h"

namespace {

constexpr uint8_t kFixChecksum = 1;
constexpr uint8_t kFixSequence = 2;
constexpr uint8_t kDeliverEach = 4;
constexpr uint8_t kCodeMask = 0x3F;

struct Run {
    uint32_t readerId = 0;
    uint64_t dataIn = 0;  // payload bytes of data packets fed, whether accepted or not
    uint64_t textIn = 0;
    uint64_t messageBytes = 0;
    uint64_t textBytes = 0;
};
Run* gRun = nullptr;

// Also called on the transport's timer threads.
bool CheckWrite(HidDeviceEntry*, uint32_t, const uint8_t* packet, int32_t length, void*) {
    FUZZ_CHECK(length == int32_t(kATPPacketSize));
    if (packet[0] == kATPDataOut) {
        ATPDataPacketView view;
        FUZZ_CHECK(ATPParseDataPacket(packet, &view) == ATPParseResult::ok);
    } else if (packet[0] != kATPStatusOut) {
        ATPCommandPacketView view;
        FUZZ_CHECK(ATPParseCommandPacket(packet, &view) == ATPParseResult::ok);
    }
    return true;
}

int Deliver(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t reserved) {
    FUZZ_CHECK(deviceId == gRun->readerId && event >= kXportAttach && event <= kXportMsgData);
    FUZZ_CHECK(count <= (event == kXportTextData ? kATPTextRingSize : kATPMsgRingSize));
    return AAPOnTransportEvent(deviceId, event, count, reserved);
}

void OnMessage(const AAPMessage* message, void* context) {
    static_cast<Run*>(context)->messageBytes += message->payload().size();
}

void OnText(const char* text, void* context) {
    // Null: a reply that could not be received whole.
    static_cast<Run*>(context)->textBytes += text ? std::strlen(text) : 0;
}

void Feed(MALTransATP& transport, Run& run, const uint8_t* bytes, size_t length, uint8_t flags) {
    uint8_t report[kATPPacketSize] = {};
    std::memcpy(report, bytes, length);
    const uint8_t code = report[0] & kCodeMask;
    if (code == kATPDataIn && report[1] >= kATPDataLengthBias &&
        report[1] <= kATPMaxCommandPayload) {
        const uint32_t n = report[1] - kATPDataLengthBias;
        run.dataIn += n;
        if (flags & kFixChecksum) {
            const uint32_t crc = ATPPayloadCrc(report + kATPDataHeaderSize, n);
            for (int i = 0; i < 4; ++i) {
                report[4 + i] = uint8_t(crc >> (8 * i));
            }
        }
        if (flags & kFixSequence) {
            report[3] = transport.deviceAt(run.readerId)->rxExpected;
        }
    } else if (code == kATPTextIn && report[1] <= kATPMaxCommandPayload) {
        run.textIn += report[1];
    }
    // A short last report goes in short: the transport pads it itself.
    transport.OnReceiveReport(int32_t(run.readerId), report, int32_t(length));
}

// A fresh reader record costs a 4 MiB ring, far more than a run; the one reader is brought
// back instead to how a new one starts, so each input depends on its own bytes alone. Timers
// stay quiet, so nothing else touches the record meanwhile.
MALTransATP& FreshReader(uint32_t* readerId) {
    static MALTransATP* transport = nullptr;
    static HidDeviceEntry entry = {};
    static int32_t id = -1;
    if (!transport) {
        ATPTimingsForTest().addDelayMs = 0;
        ATPTimingsForTest().ackTickMs = 3600000;
        ATPTimingsForTest().retransmitTickMs = 3600000;
        transport = new MALTransATP();  // lives as long as the process
        transport->setReportWriterForTest(CheckWrite, nullptr);
        id = transport->AddSerHidDevice(&entry);
        FUZZ_CHECK(id >= 0);
    } else {
        auto* rec = const_cast<ATPDevice*>(transport->deviceAt(uint32_t(id)));
        std::memset(rec->identity, 0, sizeof rec->identity);
        rec->identified = false;
        std::strcpy(rec->readerText, "12345678");
        rec->identityClass = 0;
        rec->msgRingFull = false;
        rec->closeByte = 0;
        rec->credit = 1;
        rec->maxCredit = 0;
        OsSetEvent(rec->msgWindow);
        RingBufferReset(&rec->textRing);
        transport->restartLink(uint32_t(id));  // empties the message ring and the queue
    }
    AAPResetForTest();
    AAPSetTransportForTest(transport);
    transport->setEventCallback(Deliver);
    *readerId = uint32_t(id);
    return *transport;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t flags = data[0];
    Run run;
    gRun = &run;
    MALTransATP& transport = FreshReader(&run.readerId);
    AAPInit(nullptr, nullptr, OnText, OnMessage, nullptr, &run);
    AAPOnTransportEvent(run.readerId, kXportAttach, 0, 0);

    for (size_t at = 1; at < size; at += kATPPacketSize) {
        Feed(transport, run, data + at, std::min<size_t>(kATPPacketSize, size - at), flags);
        if (flags & kDeliverEach) {
            transport.dispatchPendingEvents();
        }
    }
    transport.dispatchPendingEvents();

    ATPDevice* reader = const_cast<ATPDevice*>(transport.deviceAt(run.readerId));
    FUZZ_CHECK(RingBufferCount(&reader->msgRing) == 0 && RingBufferCount(&reader->textRing) == 0);
    FUZZ_CHECK(run.messageBytes <= run.dataIn && run.textBytes <= run.textIn);
    gRun = nullptr;
    return 0;
}
