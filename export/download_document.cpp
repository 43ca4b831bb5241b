#include "export/download_document.h"

#include <QJsonDocument>
#include <QLocale>

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

QString buildDownloadDocument(const QJsonArray& records, const QJsonArray& factoryConfig,
                              const QJsonArray& events, const QJsonObject& hostDateTime) {
    QJsonObject document;
    document.insert(QStringLiteral("events"), events);
    document.insert(QStringLiteral("factory_config"), factoryConfig);
    document.insert(QStringLiteral("hostDateTime"), hostDateTime);
    document.insert(QStringLiteral("records"), records);
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact));
}
