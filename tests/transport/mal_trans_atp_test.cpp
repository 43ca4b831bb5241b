#include <thread>

#include "transport_fixture.h"

namespace {

using MALTransATPLifecycle = TransportTest;

TEST_F(MALTransATPLifecycle, LinkStartSendsPingResetStatusThenBothStartups) {
    ASSERT_EQ(transport_->AddSerHidDevice(entry(0)), 0);
    const Reports reports = writer_.reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].bytes, Packet({kATPPing}));
    EXPECT_EQ(reports[1].bytes, Packet({kATPStatusOut, 4, 0, 0, 0, kATPStatusReset}));
    EXPECT_EQ(reports[2].bytes, Packet({kATPStartup1}));
    EXPECT_EQ(reports[3].bytes, Packet({kATPStartup2}));
    for (const Report& report : reports) {
        EXPECT_EQ(report.entry, entry(0));
    }
}

TEST_F(MALTransATPLifecycle, CloseSendsEachReaderItsCloseByteAndReportsItsRemoval) {
    addReader(0);
    addReader(1);
    addReader(2);
    feed(1, {kATPCloseByte, 1, 7});
    removeReader(2);
    DeliveredEvents().clear();
    transport_->close();
    const Reports sent = writer_.reports();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].entry, entry(0));
    EXPECT_EQ(sent[0].bytes, Packet({kATPClose, 1, 0}));
    EXPECT_EQ(sent[1].entry, entry(1));
    EXPECT_EQ(sent[1].bytes, Packet({kATPClose, 1, 7}));
    EXPECT_EQ(DeliveredEvents(),
              (std::vector<Delivered>{{0, kXportRemove, 0}, {1, kXportRemove, 0}}));
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), -1);
}

TEST_F(MALTransATPLifecycle, OperationsWithoutReaderGiveTheirNoReaderResults) {
    addReader(0);
    uint8_t buffer[8];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(transport_->readMsg(0, 0, buffer, nullptr), -4);
    EXPECT_EQ(transport_->readMsg(3, 0, buffer, &size), -3);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(transport_->readText(3, buffer, sizeof buffer), 0);
    EXPECT_EQ(writeMsg(3, {1, 2}), -3);
    EXPECT_EQ(writeText(3, "x"), 0);
    EXPECT_EQ(transport_->SendDeviceMessage(99, kATPPing, nullptr, 0), 0);
    EXPECT_TRUE(writer_.reports().empty());
    // The version is cut to the buffer, and always terminated.
    const struct {
        uint32_t size;
        const char* expected;
    } versions[] = {{1, ""}, {2, "1"}, {3, "1."}, {8, "1.0"}};
    for (const auto& c : versions) {
        char version[8];
        std::memset(version, 'z', sizeof version);
        EXPECT_EQ(transport_->getVersion(version, c.size), 1);
        EXPECT_STREQ(version, c.expected) << "size " << c.size;
    }
}

TEST_F(MALTransATPLifecycle, RemovalWakesSenderWaitingForCreditAndFreesSlot) {
    ATPTimingsForTest().creditWaitMs = 1;
    addReader(0);
    grantWindow(0, 0);
    // After its first ping the sender waits without end: only the removal can wake it.
    writer_.setOnWrite([](const Report& r) {
        if (r.code() == kATPPing) {
            ATPTimingsForTest().creditWaitMs = kOsWaitForever;
        }
    });
    int32_t result = -1;
    std::thread sender([&] { result = writeText(0, "waits"); });
    EXPECT_TRUE(writer_.waitForCode(kATPPing));
    removeReader(0);
    sender.join();
    EXPECT_EQ(DeliveredEvents(), (std::vector<Delivered>{{0, kXportRemove, 0}}));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(WithCode(writer_.reports(), kATPTextOut).empty());
    EXPECT_EQ(device(0)->inUse, 0u);
}

// The HID layer removed the entry's device and adopted another into it before the event thread
// handled the removal: nothing of the old reader reaches the new device, and back.
TEST_F(MALTransATPLifecycle, RecordRefusesItsEntryOnceTheEntryIsReadopted) {
    addReader(0);
    entry(0)->generation = 1;
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), -1);
    writeText(0, "late");
    EXPECT_TRUE(writer_.reports().empty());
    transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(entry(0)), 0);
    EXPECT_EQ(dispatch(), (std::vector<Delivered>{{0, kXportRemove, 0}}));
    EXPECT_EQ(transport_->AddSerHidDevice(entry(0), 1), 0);
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), 0);
}

}  // namespace
