#include <climits>
#include <thread>

#include "transport_fixture.h"

namespace {

using ATPSend = TransportTest;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return bytes;
}

uint32_t Crc(const Report& r) {
    return r.bytes[4] | r.bytes[5] << 8 | r.bytes[6] << 16 |
           static_cast<uint32_t>(r.bytes[7]) << 24;
}

// Waits until both timers of the reader have stopped; the cap only turns a hang into a failure.
bool TimersStop(const ATPDevice* rec) {
    for (int i = 0; i < 30000; ++i) {
        OsLock(rec->guard);
        const bool idle = !rec->ackTimer && !rec->retransmitTimer;
        OsUnlock(rec->guard);
        if (idle) {
            return true;
        }
        OsSleep(1);
    }
    return false;
}

std::vector<uint8_t> UnackedSeqs(const ATPDevice* rec) {
    std::vector<uint8_t> seqs;
    for (const ATPQueuedPacket* p = rec->unackedHead; p; p = p->next) {
        seqs.push_back(p->bytes[3]);
    }
    return seqs;
}

TEST_F(ATPSend, WriteMsgEndsEveryMessageWithAPacketOfItsOwn) {
    const struct {
        size_t length;
        std::vector<uint32_t> payloads;
    } cases[] = {{56, {56, 0}}, {57, {56, 1}}, {0, {0}}, {113, {56, 56, 1}}};
    addReader(0);
    grantWindow(0, 100);
    uint8_t seq = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        writer_.clear();
        const std::vector<uint8_t> message = Pattern(c.length);
        EXPECT_EQ(writeMsg(0, message), 0);
        const Reports sent = writer_.reports();
        ASSERT_EQ(sent.size(), c.payloads.size());
        std::vector<uint8_t> joined;
        for (size_t i = 0; i < sent.size(); ++i) {
            const Report& r = sent[i];
            EXPECT_EQ(r.code(), kATPDataOut);
            EXPECT_EQ(r.bytes[1], c.payloads[i] + 6);
            EXPECT_EQ(r.bytes[3], seq++);
            EXPECT_EQ(Crc(r), ATPPayloadCrc(r.bytes.data() + 8, c.payloads[i]));
            joined.insert(joined.end(), r.bytes.begin() + 8, r.bytes.begin() + 8 + c.payloads[i]);
        }
        EXPECT_EQ(joined, message);
        if (c.payloads.back() == 0) {
            EXPECT_EQ(Crc(sent.back()), 0xFFFFFFFFu);
        }
    }
}

TEST_F(ATPSend, WriteTextSends62ByteChunksAndOversizedCommandsNothing) {
    addReader(0);
    grantWindow(0, 10);
    const std::string text(130, 't');
    EXPECT_EQ(writeText(0, text), 130);
    const Reports sent = writer_.reports();
    ASSERT_EQ(sent.size(), 3u);
    const uint8_t lengths[] = {62, 62, 6};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].code(), kATPTextOut);
        EXPECT_EQ(sent[i].bytes[1], lengths[i]);
    }
    const uint8_t payload[63] = {};
    EXPECT_EQ(transport_->SendDeviceMessage(0, kATPTextOut, payload, 63), 0);
    EXPECT_EQ(writer_.reports().size(), 3u);
}

// A new reader has credit 1: the first packet goes, the second waits (and pings) until the
// reader grants more, by either credit command.
TEST_F(ATPSend, SecondPacketWaitsForCreditFromTheReader) {
    const std::vector<uint8_t> grants[] = {{kATPCredit, 1, 1}, {kATPWindowSize, 1, 2}};
    ATPTimingsForTest().creditWaitMs = 5;
    ATPTimingsForTest().pingRetries = INT_MAX;
    for (const auto& grant : grants) {
        SCOPED_TRACE(static_cast<int>(grant[0]));
        transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(entry(0)));
        dispatch();
        addReader(0);
        EXPECT_EQ(writeText(0, "a"), 1);
        int32_t second = -1;
        std::thread sender([&] { second = writeText(0, "b"); });
        // Either a ping (it waits) or the second packet (it did not wait) ends this.
        EXPECT_TRUE(writer_.waitFor([](const Reports& r) {
            return !WithCode(r, kATPPing).empty() || WithCode(r, kATPTextOut).size() == 2;
        }));
        feed(0, grant);
        sender.join();
        EXPECT_EQ(second, 1);
        const Reports sent = writer_.reports();
        EXPECT_EQ(sent.front().bytes[2], 'a');
        EXPECT_EQ(sent[1].code(), kATPPing);
        EXPECT_EQ(sent.back().bytes[2], 'b');
        EXPECT_EQ(WithCode(sent, kATPTextOut).size(), 2u);
    }
}

TEST_F(ATPSend, ClosedWindowPingsAfterEachWaitAndGivesUpAfterTheLast) {
    const struct {
        size_t grantAfterPings;  // 0: never
        bool emptyGrant;         // a credit of 0 wakes the sender but lets nothing go
        int32_t result;
        size_t pings;
    } cases[] = {{0, false, 0, 6}, {5, false, 1, 5}, {0, true, 0, 6}};
    ATPTimingsForTest().creditWaitMs = 1;
    addReader(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.grantAfterPings);
        grantWindow(0, 0);
        if (c.emptyGrant) {
            feed(0, {kATPCredit, 1, 0});
        }
        writer_.clear();
        size_t pings = 0;
        writer_.setOnWrite([&](const Report& r) {
            if (r.code() == kATPPing && ++pings == c.grantAfterPings) {
                grantWindow(0, 1);
            }
        });
        EXPECT_EQ(writeText(0, "x"), c.result);
        const Reports sent = writer_.reports();
        EXPECT_EQ(WithCode(sent, kATPPing).size(), c.pings);
        EXPECT_EQ(WithCode(sent, kATPTextOut).size(), static_cast<size_t>(c.result));
        writer_.setOnWrite(nullptr);
    }
}

TEST_F(ATPSend, AcknowledgementRemovesOnlyPacketsBeforeIt) {
    const struct {
        std::vector<uint8_t> report;
        std::vector<uint8_t> left;
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
        writeMsg(0, Pattern(100));
        ASSERT_EQ(UnackedSeqs(device(0)), (std::vector<uint8_t>{0, 1}));
        feed(0, c.report);
        EXPECT_EQ(UnackedSeqs(device(0)), c.left);
    }
}

TEST_F(ATPSend, UnacknowledgedPacketsAreResentAfterThreeSilentTicksThenStatusResent) {
    ATPTimingsForTest().retransmitTickMs = 20;
    // No resend before both packets are out, however slowly the sender runs.
    ATPTimingsForTest().ticksBeforeResend = INT_MAX;
    addReader(0);
    grantWindow(0, 100);
    writeMsg(0, Pattern(60));
    ATPTimingsForTest().ticksBeforeResend = 3;
    const auto isResent = [](const Report& r) {
        return r.code() == kATPStatusOut && r.bytes[5] == kATPStatusResent;
    };
    ASSERT_TRUE(writer_.waitFor(
        [&](const Reports& r) { return std::any_of(r.begin(), r.end(), isResent); }));
    const Reports sent = writer_.reports();
    const size_t status = std::find_if(sent.begin(), sent.end(), isResent) - sent.begin();
    ASSERT_EQ(status, 4u);
    EXPECT_EQ(sent[2].bytes, sent[0].bytes);
    EXPECT_EQ(sent[3].bytes, sent[1].bytes);
    // Once all is acknowledged the timer stops rather than ticking on.
    feed(0, {kATPStatusIn, 4, 2, 0, 0, kATPStatusAck});
    EXPECT_TRUE(TimersStop(device(0)));
}

// An acknowledgement of the reader's previous link, then packet 0 of the new one lost.
TEST_F(ATPSend, StaleAcknowledgementFromBeforeAResetDoesNotStopResending) {
    ATPTimingsForTest().retransmitTickMs = 20;
    addReader(0);
    grantWindow(0, 100);
    feed(0, {kATPStatusIn, 4, 60, 0, 0, kATPStatusAck});
    writeMsg(0, Pattern(60));
    feed(0, {kATPStatusIn, 4, 0, 0, 0, kATPStatusAck});
    EXPECT_TRUE(
        writer_.waitFor([](const Reports& r) { return WithCode(r, kATPDataOut).size() >= 4; }));
    EXPECT_EQ(UnackedSeqs(device(0)), (std::vector<uint8_t>{0, 1}));
}

// A reset while a packet waits for credit: it must not go out with its old number.
TEST_F(ATPSend, LinkResetDuringAMessageSendsNothingOfTheOldNumbering) {
    ATPTimingsForTest().creditWaitMs = 1;
    ATPTimingsForTest().pingRetries = INT_MAX;
    addReader(0);
    grantWindow(0, 1);
    std::thread sender([&] { writeMsg(0, Pattern(100)); });  // the second packet waits
    ASSERT_TRUE(writer_.waitFor([](const Reports& r) { return !WithCode(r, kATPPing).empty(); }));
    feed(0, {kATPStatusIn, 4, 0, 0, 0, kATPStatusReset});
    feed(0, {kATPCredit, 1, 1});
    sender.join();
    feed(0, {kATPCredit, 1, 1});
    writeMsg(0, Pattern(1));
    std::vector<uint8_t> seqs;
    for (const Report& r : WithCode(writer_.reports(), kATPDataOut)) {
        seqs.push_back(r.bytes[3]);
    }
    EXPECT_EQ(seqs, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(UnackedSeqs(device(0)), std::vector<uint8_t>{0});
}

TEST_F(ATPSend, AckTimerAnswersOutOfSequenceAndNewData) {
    addReader(0);
    const auto statusAck = [](uint8_t rxExpected) {
        return [rxExpected](const Reports& r) {
            return std::any_of(r.begin(), r.end(), [&](const Report& x) {
                return x.code() == kATPStatusOut && x.bytes[5] == kATPStatusAck &&
                       x.bytes[2] == rxExpected;
            });
        };
    };
    EXPECT_TRUE(TimersStop(device(0)));  // idle from the start
    feedData(0, 0, 5, "ahead");
    EXPECT_TRUE(writer_.waitFor(statusAck(0)));
    feedData(0, 0, 0, "next");
    EXPECT_TRUE(writer_.waitFor(statusAck(1)));
    // With nothing more to acknowledge the timer stops, and nothing else went out.
    EXPECT_TRUE(TimersStop(device(0)));
    const Reports sent = writer_.reports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_TRUE(statusAck(0)({sent[0]}) && statusAck(1)({sent[1]}));
}

}  // namespace
