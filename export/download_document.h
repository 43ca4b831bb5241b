// The JSON document of one download: the records of table 6 ("records"), the calibration
// configuration ("factory_config"), the records of table 7 ("events") and the workstation's
// clock and time zone ("hostDateTime"), in Qt's compact form. Qt sorts every object's members
// by key text, so "10" comes before "2".
//
// Pure functions on their arguments; any thread.
#pragma once

#include <QByteArray>
#include <QDateTime>
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

// The whole document in its saved form from the compact JSON texts (UTF-8) of its three arrays:
// the bytes of Qt's compact text of the whole object, with every character that Latin-1 holds
// as its one byte and every other one as a \uXXXX escape (such characters stand only inside
// JSON strings, where the escape keeps them), so an ASCII document is its UTF-8 text. Built in
// one buffer; the arrays are copied into it once.
QByteArray buildDownloadDocument(const QByteArray& recordsJson, const QByteArray& factoryJson,
                                 const QByteArray& eventsJson, const QJsonObject& hostDateTime);

// The saved form of JSON text given in UTF-8, appended to out. Any thread.
void appendSavedJson(QByteArray* out, const QByteArray& utf8);
