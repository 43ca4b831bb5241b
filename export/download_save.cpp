#include "export/download_save.h"

#include <QJsonValue>
#include <QLocale>

#include "export/file_util.h"

QString sensorIdOf(const QJsonObject& firstRecord) {
    const QJsonValue id = firstRecord.value(QLatin1String("90"));
    return id.isString() ? id.toString().trimmed() : QString();
}

QString downloadFileName(const QString& sensorId, const QDateTime& now) {
    // The window's ISO text with milliseconds, less its colons; the C locale keeps digits ASCII.
    const QString time =
        QLocale::c().toString(now.toUTC(), QStringLiteral("yyyy-MM-dd'T'HHmmss.zzz'Z'"));
    return sensorId + QLatin1Char('_') + time + QStringLiteral("_data.json");
}

QString saveDownload(FileUtil& files, const QByteArray& document, const QString& sensorId,
                     const QDateTime& now, QString* problem) {
    problem->clear();
    // An id that is empty once trimmed is left to FileUtil, which refuses it with its message.
    if (sensorId.isNull()) {
        *problem = QStringLiteral(
            "The download holds no sensor id (text member \"90\" of its first record); nothing "
            "was saved.");
        return {};
    }
    const QString path =
        files.combineSensorDirAndFilename(sensorId, downloadFileName(sensorId, now));
    if (path.isEmpty() || !files.write(path, document)) {
        return {};
    }
    return path;
}
