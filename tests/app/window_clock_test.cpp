// The window's word on a reader whose clock is off this computer's.
#include <gtest/gtest.h>

#include "connector_window.h"

namespace {

TEST_F(ConnectorWindow, SaysBesideTheReadersClockWhenItIsOffByMoreThanFiveMinutes) {
    const struct {
        int64_t readerMinusNowS;
        QString warning;
    } cases[] = {
        {-(3 * 3600 + 12 * 60), "The reader's clock is 3 h 12 min behind this computer's."},
        {8 * 60, "The reader's clock is 8 min ahead of this computer's."},
        {-60, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readerMinusNowS);
        plugReader(MakeDefaultScenario({}), -1, c.readerMinusNowS);
        waitForArrival();
        EXPECT_EQ(text("lblClockWarning"), c.warning);
        EXPECT_EQ(visible("lblClockWarning"), !c.warning.isEmpty());
        QObject* label = item("lblClockWarning");
        EXPECT_LE(label->property("contentHeight").toReal(), label->property("height").toReal());
        reader_->stop();
        ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    }
    EXPECT_EQ(item("lblClockWarning")->property("textFormat").toInt(), Qt::PlainText);
}

}  // namespace
