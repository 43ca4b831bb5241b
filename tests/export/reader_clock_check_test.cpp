// The sentence on a reader's clock that is off this computer's.
#include <gtest/gtest.h>

#include "export/reader_clock_check.h"

namespace {

TEST(ReaderClockWarning, SaysBehindOrAheadBeyondFiveMinutesInMinutesHoursOrDays) {
    constexpr qint64 kMin = 60, kHour = 3600, kDay = 86400;
    const struct {
        qint64 readerMinusNowS;
        const char* sentence;  // "" for none; else "%1 behind" or "%1 ahead of"
    } cases[] = {
        {-(5 * kMin - 1), ""},
        {-5 * kMin, ""},
        {5 * kMin, ""},
        {-(5 * kMin + 1), "5 min behind"},
        {5 * kMin + 1, "5 min ahead of"},
        {-(59 * kMin + 29), "59 min behind"},
        {-(59 * kMin + 30), "1 h 0 min behind"},
        {-(3 * kHour + 12 * kMin), "3 h 12 min behind"},
        {2 * kDay, "48 h 0 min ahead of"},
        {2 * kDay + kMin, "2 days ahead of"},
        {-1000 * kDay - 11 * kHour, "1000 days behind"},
    };
    // The reader's fields know no zone: only the wall clocks are compared.
    const QDateTime now(QDate(2026, 12, 7), QTime(15, 4, 5), Qt::OffsetFromUTC, 3600);
    const QDateTime nowFields(now.date(), now.time(), Qt::UTC);
    for (const auto& c : cases) {
        const QString expected =
            *c.sentence ? QString("The reader's clock is %1 this computer's.").arg(c.sentence) : "";
        EXPECT_EQ(readerClockWarning(nowFields.addSecs(c.readerMinusNowS), now), expected)
            << c.readerMinusNowS;
    }
    EXPECT_EQ(readerClockWarning(QDateTime(), now), "");
}

}  // namespace
