#include "transport_fixture.h"

namespace {

using MALTransATPLifecycle = TransportTest;

TEST_F(MALTransATPLifecycle, CloseSendsEachReaderItsCloseByteAndReportsItsRemoval) {
    addReader(0);
    addReader(1);
    addReader(2);
    feed(1, {kATPCloseByte, 1, 7});
    feed(1, {kATPCloseByte, 1, 0});  // no close byte: the last one stays
    transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(entry(2)));
    dispatch();
    DeliveredEvents().clear();
    transport_->close();
    EXPECT_EQ(reports(), (Reports{{entry(0), Packet({kATPClose, 1, 0})},
                                  {entry(1), Packet({kATPClose, 1, 7})}}));
    EXPECT_EQ(DeliveredEvents(), (Delivered{{0, kXportRemove, 0}, {1, kXportRemove, 0}}));
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), -1);
}

TEST_F(MALTransATPLifecycle, OperationsWithoutReaderGiveTheirNoReaderResults) {
    addReader(0);
    uint8_t buffer[8];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(transport_->readMsg(3, 0, buffer, &size), kXportNoReader);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(writeMsg(3, {1, 2}), kXportNoReader);
    EXPECT_EQ(writeText(99, "x"), 0);  // beyond the table
    EXPECT_TRUE(reports().empty());
    char version[4] = "zzz";
    EXPECT_EQ(transport_->getVersion(version, 3), 1);
    EXPECT_STREQ(version, "1.");  // cut to the buffer, and terminated
}

// The HID layer removed the entry's device and adopted another into it before the event thread
// handled the removal: nothing of the old reader reaches the new device, and back; the new one
// gets a link start of its own.
TEST_F(MALTransATPLifecycle, ReadoptedEntryGetsNothingOfTheOldReaderAndALinkStartOfItsOwn) {
    addReader(0);
    entry(0)->generation = 1;
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), -1);
    writeText(0, "late");
    EXPECT_TRUE(reports().empty());
    transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(entry(0)), 0);
    EXPECT_EQ(dispatch(), (Delivered{{0, kXportRemove, 0}}));
    EXPECT_EQ(transport_->AddSerHidDevice(entry(0), 1), 0);
    EXPECT_EQ(transport_->GetDeviceID(entry(0)), 0);
    EXPECT_EQ(reports(), (Reports{{entry(0), Packet({kATPPing})},
                                  {entry(0), Packet({kATPStatusOut, 4, 0, 0, 0, kATPStatusReset})},
                                  {entry(0), Packet({kATPStartup1})},
                                  {entry(0), Packet({kATPStartup2})}}));
}

}  // namespace
