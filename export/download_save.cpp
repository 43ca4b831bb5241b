#include "export/download_save.h"

#include <QJsonValue>
#include <QLocale>

#include "export/file_util.h"

QString sensorIdOf(const QJsonObject& firstRecord) {
    const QJsonValue id = firstRecord.value(QLatin1String("90"));
    return id.isString() ? id.toString().trimmed() : QString();
}

QString downloadFileName(const QString& sensorId, const QDateTime& now) {
    // ISO 8601 with milliseconds, less the colons that Windows forbids in file names; the C
    // locale keeps digits ASCII.
    const QString time =
        QLocale::c().toString(now.toUTC(), QStringLiteral("yyyy-MM-dd'T'HHmmss.zzz'Z'"));
    return sensorId + QLatin1Char('_') + time + QStringLiteral("_data.json");
}

QString saveDownload(FileUtil& files, const QByteArray& document, const QString& sensorId,
                     const QDateTime& now) {
    const QString path =
        files.combineSensorDirAndFilename(sensorId, downloadFileName(sensorId, now));
    if (path.isEmpty() || !files.write(path, document)) {
        return {};
    }
    return path;
}
