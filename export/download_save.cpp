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
    if (error.error != QJsonParseError::NoError) {
        *problem = QStringLiteral("The reader's data could not be read. Nothing was saved.");
        return {};
    }
    const QJsonValue records = json.object().value(QLatin1String("records"));
    if (!records.isArray() || records.toArray().isEmpty()) {
        *problem = QStringLiteral("The reader sent no sensor records. Nothing was saved.");
        return {};
    }
    const QString id = records.toArray().at(0).toObject().value(QLatin1String("90")).toString();
    // One rule for the window and lumora-download: QString's white space, nothing more.
    const QString trimmed = id.trimmed();
    if (trimmed.isEmpty()) {
        *problem = QStringLiteral("The reader's data does not name the sensor. Nothing was saved.");
        return {};
    }
    return trimmed;
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
