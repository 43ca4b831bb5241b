#include "export/reader_clock_check.h"

#include <QCoreApplication>
#include <cstdlib>

namespace {

constexpr qint64 kToleranceS = 5 * 60;
constexpr qint64 kMinutesPerDay = 24 * 60;

// The same date and time as UTC: the reader's fields know no zone, and local time could put
// either side into a daylight-saving gap.
QDateTime wallClock(const QDateTime& t) {
    return QDateTime(t.date(), t.time(), Qt::UTC);
}

// Translated in the session's context (literal, for lupdate). Whole minutes, rounded to the nearest
// (half a minute up); days likewise.
QString duration(qint64 seconds) {
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60) {
        return QCoreApplication::translate("DownloadSession", "%1 min").arg(minutes);
    }
    if (minutes <= 2 * kMinutesPerDay) {
        return QCoreApplication::translate("DownloadSession", "%1 h %2 min")
            .arg(minutes / 60)
            .arg(minutes % 60);
    }
    return QCoreApplication::translate("DownloadSession", "%1 days")
        .arg((minutes + kMinutesPerDay / 2) / kMinutesPerDay);
}

}  // namespace

QString readerClockWarning(const QDateTime& readerClock, const QDateTime& localNow) {
    if (!readerClock.isValid()) {
        return QString();
    }
    // Positive: the reader is behind. Exactly five minutes is still within.
    const qint64 behindS = wallClock(readerClock).secsTo(wallClock(localNow));
    if (std::llabs(behindS) <= kToleranceS) {
        return QString();
    }
    return (behindS > 0
                ? QCoreApplication::translate("DownloadSession",
                                              "The reader's clock is %1 behind this computer's.")
                : QCoreApplication::translate("DownloadSession",
                                              "The reader's clock is %1 ahead of this computer's."))
        .arg(duration(std::llabs(behindS)));
}
