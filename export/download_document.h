// The JSON document of one download: the records of table 6 ("records"), the calibration
// configuration ("factory_config"), the records of table 7 ("events") and the workstation's
// clock and time zone ("hostDateTime"), in Qt's compact form. Qt sorts every object's members
// by key text, so "10" comes before "2".
//
// Pure functions on their arguments; any thread.
#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTimeZone>

// The "hostDateTime" object for the instant at, seen in zone: "isDaylightTime",
// "localDateTime" (yyyy-MM-ddTHH:mm:ss), "timeZoneName" and "timeZoneShortName" (display names
// in the default locale) and "utcOffSetInSec" (positive east of Greenwich). When zone is not
// valid (Qt 5 cannot read a POSIX rule in TZ), the C library's local time and zone
// abbreviation stand in for it, so the offset is still the true one.
QJsonObject hostDateTime(const QDateTime& at, const QTimeZone& zone);

// hostDateTime for this moment in the system time zone, read once.
QJsonObject currentHostDateTime();

// The whole document as compact JSON text (UTF-8 turned back into a string).
QString buildDownloadDocument(const QJsonArray& records, const QJsonArray& factoryConfig,
                              const QJsonArray& events, const QJsonObject& hostDateTime);
