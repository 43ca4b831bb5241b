// How far the reader's clock is off this computer's, as one sentence for the user. The records'
// times come from the reader's clock, so a clock that is far off is said, never refused.
#pragma once

#include <QDateTime>
#include <QString>

// "The reader's clock is 3 h 12 min behind this computer's." (or "ahead of") when the reader's
// wall clock differs from localNow's by more than 5 minutes; empty when it does not, or when
// readerClock is invalid (a date the reader cannot have). Both are compared as wall-clock
// fields, whatever their time specs. Translated in the context "DownloadSession".
QString readerClockWarning(const QDateTime& readerClock, const QDateTime& localNow);
