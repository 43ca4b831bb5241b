// The window's word on a reader whose clock is off this computer's.
#include "connector_window.h"

TEST_F(ConnectorWindow, SaysBesideTheReadersClockWhenItIsOffByMoreThanFiveMinutes) {
    const std::pair<int64_t, QString> cases[] = {
        {-11520, "The reader's clock is 3 h 12 min behind this computer's."}, {-60, ""}};
    for (const auto& [readerMinusNowS, warning] : cases) {
        plugReader(MakeDefaultScenario({}), -1, readerMinusNowS);
        waitForArrival();
        EXPECT_EQ(text("lblClockWarning"), warning);
        QObject* label = item("lblClockWarning");
        EXPECT_LE(label->property("contentHeight").toReal(), label->property("height").toReal());
        reader_->stop();
        ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    }
}
