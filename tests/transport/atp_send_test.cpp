#include <climits>
#include <thread>
#include <utility>

#include "transport_fixture.h"

namespace {

using ATPSend = TransportTest;

bool TimerStops(const ATPDevice* rec, OsTimer* const ATPDevice::*slot) {
    return Eventually([&] {
        OsLock(rec->guard);
        const bool idle = !(rec->*slot);
        OsUnlock(rec->guard);
        return idle;
    });
}

Bytes UnackedSeqs(const ATPDevice* rec) {
    Bytes seqs;
    for (const ATPQueuedPacket* p = rec->unackedHead; p; p = p->next) {
        seqs.push_back(p->bytes[3]);
    }
    return seqs;
}

TEST_F(ATPSend, MessagesEndWithAPacketOfTheirOwnAndTextGoesIn62ByteChunks) {
    const struct {
        size_t length;
        std::vector<uint32_t> payloads;
    } cases[] = {{56, {56, 0}}, {57, {56, 1}}, {0, {0}}, {113, {56, 56, 1}}};
    addReader(0);
    grantWindow(0, 100);
    uint8_t seq = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        clearReports();
        EXPECT_EQ(writeMsg(0, Bytes(c.length)), 0);
        const Reports sent = reports();
        ASSERT_EQ(sent.size(), c.payloads.size());
        // Code, length + 6, next expected (nothing received yet), sequence; the end-to-end tests
        // check the payloads and checksums.
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(Bytes(sent[i].bytes.begin(), sent[i].bytes.begin() + 4),
                      (Bytes{kATPDataOut, uint8_t(c.payloads[i] + 6), 0, seq++}));
        }
    }
    clearReports();
    EXPECT_EQ(writeText(0, std::string(130, 't')), 130);  // so 62, 62, then 6
    ASSERT_EQ(reports().size(), 3u);
    EXPECT_EQ(reports()[2].bytes, Packet({kATPTextOut, 6, 't', 't', 't', 't', 't', 't'}));
}

// Each text packet spends a credit; without one the sender pings after each wait and gives up
// after the sixth, unless a grant comes first. The text after a packet not sent stays unsent,
// even when credit comes with the last ping: it would reach the reader with a hole in it.
TEST_F(ATPSend, CreditWithinTheWindowLetsThatManyPacketsGo) {
    const struct {
        const char* name;
        std::vector<Bytes> grants;
        size_t grantAfterPings;  // 0: none
        Bytes lateGrant;
        size_t packets;
        size_t pings;
    } cases[] = {
        {"closed window", {{kATPWindowSize, 1, 0}}, 0, {}, 0, 6},
        {"empty grant", {{kATPWindowSize, 1, 0}, {kATPCredit, 1, 0}}, 0, {}, 0, 6},
        {"window of 3", {{kATPWindowSize, 1, 3}}, 0, {}, 3, 6},
        // The reader never has more than its window to take in, however much it grants.
        {"grant above window", {{kATPWindowSize, 1, 2}, {kATPCredit, 1, 5}}, 0, {}, 2, 6},
        {"credit on the last try", {{kATPWindowSize, 1, 0}}, 5, {kATPCredit, 1, 1}, 1, 11},
        {"window on a try", {{kATPWindowSize, 1, 0}}, 2, {kATPWindowSize, 1, 2}, 2, 8},
        {"credit after the last try", {{kATPWindowSize, 1, 0}}, 6, {kATPCredit, 1, 1}, 0, 6},
    };
    ATPTimingsForTest().creditWaitMs = 1;
    addReader(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Bytes& grant : c.grants) {
            feed(0, grant);
        }
        clearReports();
        size_t pings = 0;
        setOnWrite([&](const Report& r) {
            if (r.code() == kATPPing && ++pings == c.grantAfterPings) {
                feed(0, c.lateGrant);
            }
        });
        EXPECT_EQ(writeText(0, std::string(5 * 62, 'x')), int32_t(c.packets * 62));
        EXPECT_EQ(pings, c.pings);
        EXPECT_EQ(reports().size(), c.packets + c.pings);
        setOnWrite(nullptr);
    }
}

TEST_F(ATPSend, AcknowledgementRemovesOnlyPacketsBeforeIt) {
    const struct {
        Bytes report;
        Bytes left;
    } cases[] = {
        {{kATPStatusIn, 4, 0, 0, 0, kATPStatusAck}, {0, 1}},  // oldest queued: nothing
        {{kATPStatusIn, 4, 1, 0, 0, kATPStatusResent}, {1}},
        {{kATPStatusIn, 4, 2, 0, 0, kATPStatusAck}, {}},        // txSeq: everything
        {{kATPStatusIn, 4, 200, 0, 0, kATPStatusAck}, {0, 1}},  // stale
        {{kATPStatusIn, 4, 2, 0, 0, 7}, {0, 1}},                // unknown status code
        // A repeated old data packet is dropped but still acknowledges.
        {{kATPDataIn, 6, 2, 9, 0xFF, 0xFF, 0xFF, 0xFF}, {}},
    };
    addReader(0);
    grantWindow(0, 100);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.report));
        transport_->restartLink(0);
        writeMsg(0, Bytes(100));
        ASSERT_EQ(UnackedSeqs(device(0)), (Bytes{0, 1}));
        feed(0, c.report);
        EXPECT_EQ(UnackedSeqs(device(0)), c.left);
    }
}

// The reader resets its link while the host resends, and the host starts a new message at once:
// the resend must not put the old link's packets back in front of the new one.
TEST_F(ATPSend, ResendRepeatsTheQueueThenSaysSoAndKeepsNothingFromBeforeAReset) {
    // Set before the timer runs, as it reads them unguarded. Every packet queued restarts the
    // count, so a resend comes at least 150 ms after the last one: never between the two
    // packets, nor between the one resend and the snapshot below.
    ATPTimingsForTest().retransmitTickMs = 50;
    ATPTimingsForTest().ticksBeforeResend = 4;
    addReader(0);
    grantWindow(0, 100);
    setOnWrite([&](const Report&) {
        if (reports().size() == 3) {  // the first resent packet
            feed(0, {kATPStatusIn, 4, 0, 0, 0, kATPStatusReset});
            writeMsg(0, {42});
        }
    });
    writeMsg(0, Bytes(60));
    ASSERT_TRUE(waitForCode(kATPStatusOut));
    setOnWrite(nullptr);
    const Reports sent = reports();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[2].bytes, sent[0].bytes);  // resent unchanged
    // The new link's first packet; 70ADBD4D is the checksum of the word 2A 00 00 00.
    EXPECT_EQ(sent[3].bytes, Packet({kATPDataOut, 7, 0, 0, 0x4D, 0xBD, 0xAD, 0x70, 42}));
    // Next to send: 1, of the new link.
    EXPECT_EQ(sent[4].bytes, Packet({kATPStatusOut, 4, 0, 1, 0, kATPStatusResent}));
    EXPECT_EQ(UnackedSeqs(device(0)), Bytes{0});
    EXPECT_EQ(device(0)->unackedHead->bytes[8], 42);
    // Once all is acknowledged the timer stops rather than ticking on.
    feed(0, {kATPStatusIn, 4, 1, 0, 0, kATPStatusAck});
    EXPECT_TRUE(TimerStops(device(0), &ATPDevice::retransmitTimer));
}

// A reset while a packet waits for credit: it must not go out with its old number.
TEST_F(ATPSend, LinkResetDuringAMessageSendsNothingOfTheOldNumbering) {
    ATPTimingsForTest().creditWaitMs = 1;
    ATPTimingsForTest().pingRetries = INT_MAX;
    addReader(0);
    grantWindow(0, 1);
    std::thread sender([&] { writeMsg(0, Bytes(100)); });  // the second packet waits
    ASSERT_TRUE(waitForCode(kATPPing));
    feed(0, {kATPStatusIn, 4, 0, 0, 0, kATPStatusReset});
    feed(0, {kATPCredit, 1, 1});
    sender.join();
    feed(0, {kATPCredit, 1, 1});
    writeMsg(0, Bytes(1));
    Bytes seqs;
    for (const Report& r : reports()) {
        if (r.code() == kATPDataOut) {
            seqs.push_back(r.bytes[3]);
        }
    }
    EXPECT_EQ(seqs, (Bytes{0, 0}));
    EXPECT_EQ(UnackedSeqs(device(0)), Bytes{0});
}

// Two packets out, then data from the reader: each status names what the host expects next and
// what it sends next.
TEST_F(ATPSend, AckTimerAnswersOutOfSequenceAndNewDataThenStops) {
    addReader(0);
    grantWindow(0, 100);
    writeMsg(0, Bytes(60));
    clearReports();
    EXPECT_TRUE(TimerStops(device(0), &ATPDevice::ackTimer));  // idle until data comes
    feedData(0, 5, "ahead");
    ASSERT_TRUE(Eventually([&] { return reports().size() == 1; }));
    feedData(0, 0, "next");
    ASSERT_TRUE(Eventually([&] { return reports().size() == 2; }));
    EXPECT_TRUE(TimerStops(device(0), &ATPDevice::ackTimer));
    EXPECT_EQ(reports(), (Reports{{entry(0), Packet({kATPStatusOut, 4, 0, 2, 0, kATPStatusAck})},
                                  {entry(0), Packet({kATPStatusOut, 4, 1, 2, 0, kATPStatusAck})}}));
}

// Fed on the reader's read thread, the tick rests that thread rather than running a timer: one
// rest however many packets come, the next a period after the last was due while an
// acknowledgement is owed, none once nothing is.
TEST_F(ATPSend, ReadThreadTickRestsThatThreadAtItsCadenceWhileAnAckIsOwed) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows backends cannot rest a read thread: there the tick runs on a timer";
#endif
    ATPTimingsForTest().ackTickMs = 3600000;  // never late, so the cadence is exact
    addReader(0);
    HidDeviceEntry* reading = entry(0);
    const auto restOver = [&] {  // as the read thread does; nothing when no rest was asked
        if (const HidRestCallback callback = std::exchange(reading->restCallback, nullptr)) {
            callback(reading, reading->restContext);
        }
    };
    feedData(0, 0, "data", true);
    ASSERT_NE(reading->restCallback, nullptr);
    const int64_t due = std::exchange(reading->restUntilMs, 0);  // a second ask would show
    feedData(0, 1, "more", true);
    EXPECT_EQ(reading->restUntilMs, 0);
    restOver();
    EXPECT_EQ(reading->restUntilMs, due + 3600000);
    restOver();
    EXPECT_EQ(reading->restCallback, nullptr);
    feedData(0, 5, "ahead", true);  // out of sequence: owed again
    restOver();
    EXPECT_EQ(device(0)->ackTimer, nullptr);
    const PacketBytes ack = Packet({kATPStatusOut, 4, 2, 0, 0, kATPStatusAck});
    EXPECT_EQ(reports(), (Reports{{entry(0), ack}, {entry(0), ack}}));
    transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(reading));
    dispatch();    // removed mid-rest: a stopped read thread never calls back
    addReader(1);  // into the same record
    feedData(1, 0, "new", true);
    EXPECT_NE(entry(1)->restCallback, nullptr);  // its tick rests its own read thread
}

// However much credit the reader grants, no more than 127 packets are unacknowledged: more would
// bring 8-bit numbers round to ones still in flight.
TEST_F(ATPSend, AtMost127PacketsAreInFlightWhateverTheCredit) {
    ATPTimingsForTest().creditWaitMs = 1;
    addReader(0);
    grantWindow(0, 255);
    size_t data = 0;
    setOnWrite([&](const Report& r) {
        if (r.code() == kATPDataOut) {
            ++data;
            feed(0, {kATPCredit, 1, 1});
        }
    });
    writeMsg(0, Bytes(200 * kATPMaxDataPayload));
    setOnWrite(nullptr);
    EXPECT_EQ(data, kATPMaxInFlight);
}

}  // namespace
