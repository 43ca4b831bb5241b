#include "export/download_save.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>

#include "export/file_util.h"

QString sensorIdOf(const QString& document, QString* problem) {
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(document.toUtf8(), &error);
    if (!json.isObject()) {
        *problem =
            QStringLiteral("The download is not a JSON document (%1); nothing was saved.")
                .arg(error.error != QJsonParseError::NoError ? error.errorString()
                                                             : QStringLiteral("not an object"));
        return {};
    }
    const QJsonArray records = json.object().value(QLatin1String("records")).toArray();
    const QJsonValue id = records.at(0).toObject().value(QLatin1String("90"));
    if (!id.isString()) {
        *problem = QStringLiteral(
            "The download holds no sensor id (text member \"90\" of its first record); nothing "
            "was saved.");
        return {};
    }
    return id.toString().trimmed();
}

QString downloadFileName(const QString& sensorId, const QDateTime& now) {
    // The window's ISO text with milliseconds, less its colons; the C locale keeps digits ASCII.
    const QString time =
        QLocale::c().toString(now.toUTC(), QStringLiteral("yyyy-MM-dd'T'HHmmss.zzz'Z'"));
    return sensorId + QLatin1Char('_') + time + QStringLiteral("_data.json");
}

QString saveDownload(FileUtil& files, const QString& document, const QDateTime& now,
                     QString* problem) {
    problem->clear();
    // An id that is empty once trimmed is left to FileUtil, which refuses it with its message.
    const QString sensorId = sensorIdOf(document, problem);
    if (!problem->isEmpty()) {
        return {};
    }
    const QString path =
        files.combineSensorDirAndFilename(sensorId, downloadFileName(sensorId, now));
    if (path.isEmpty() || !files.write(path, document)) {
        return {};
    }
    return path;
}
