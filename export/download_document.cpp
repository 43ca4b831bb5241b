#include "export/download_document.h"

#include <QJsonDocument>
#include <QLocale>
#include <algorithm>
#include <cstdio>

namespace {

QString isoLocal(const QDateTime& local) {
    // The C locale keeps the digits ASCII whatever the user's locale.
    return QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

}  // namespace

QJsonObject hostDateTime(const QDateTime& at, const QTimeZone& zone) {
    QJsonObject object;
    if (zone.isValid()) {
        const QDateTime local = at.toTimeZone(zone);
        object.insert(QStringLiteral("isDaylightTime"), zone.isDaylightTime(at));
        object.insert(QStringLiteral("localDateTime"), isoLocal(local));
        object.insert(QStringLiteral("timeZoneName"),
                      zone.displayName(at, QTimeZone::LongName, QLocale()));
        object.insert(QStringLiteral("timeZoneShortName"),
                      zone.displayName(at, QTimeZone::ShortName, QLocale()));
        object.insert(QStringLiteral("utcOffSetInSec"), zone.offsetFromUtc(at));
    } else {
        const QDateTime local = at.toLocalTime();
        const QString abbreviation = local.timeZoneAbbreviation();
        object.insert(QStringLiteral("isDaylightTime"), local.isDaylightTime());
        object.insert(QStringLiteral("localDateTime"), isoLocal(local));
        object.insert(QStringLiteral("timeZoneName"), abbreviation);
        object.insert(QStringLiteral("timeZoneShortName"), abbreviation);
        object.insert(QStringLiteral("utcOffSetInSec"), local.offsetFromUtc());
    }
    return object;
}

QJsonObject currentHostDateTime() {
    return hostDateTime(QDateTime::currentDateTime(), QTimeZone::systemTimeZone());
}

void appendSavedJson(QByteArray* out, const QByteArray& utf8) {
    const char* const begin = utf8.constData();
    const char* const end = begin + utf8.size();
    const auto nonAscii = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    for (const char* at = begin; at != end;) {
        // An ASCII byte always starts a character, so runs split the text between characters.
        const char* run = std::find_if(at, end, nonAscii);
        out->append(at, int(run - at));
        at = std::find_if_not(run, end, nonAscii);
        for (const QChar c : QString::fromUtf8(run, int(at - run))) {
            if (c.unicode() <= 0xff) {
                out->append(static_cast<char>(c.unicode()));
            } else {
                char escape[7];
                std::snprintf(escape, sizeof escape, "\\u%04x", c.unicode());
                out->append(escape, 6);
            }
        }
    }
}

QByteArray buildDownloadDocument(const QByteArray& recordsJson, const QByteArray& factoryJson,
                                 const QByteArray& eventsJson, const QJsonObject& hostDateTime) {
    // Qt's member order: keys sorted.
    static const char kEvents[] = "{\"events\":";
    static const char kFactory[] = ",\"factory_config\":";
    static const char kHost[] = ",\"hostDateTime\":";
    static const char kRecords[] = ",\"records\":";
    const QByteArray host = QJsonDocument(hostDateTime).toJson(QJsonDocument::Compact);
    QByteArray document;
    // Exact for an ASCII document, the usual case; anything else grows it as needed.
    document.reserve(int(sizeof kEvents + sizeof kFactory + sizeof kHost + sizeof kRecords) +
                     recordsJson.size() + factoryJson.size() + eventsJson.size() + host.size());
    document.append(kEvents);
    appendSavedJson(&document, eventsJson);
    document.append(kFactory);
    appendSavedJson(&document, factoryJson);
    document.append(kHost);
    appendSavedJson(&document, host);
    document.append(kRecords);
    appendSavedJson(&document, recordsJson);
    document.append('}');
    return document;
}
