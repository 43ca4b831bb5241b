// Saving a downloaded document: the sensor id from member "90" of the first record, trimmed (the
// download worker hands it over with the document); the file name sensor id + "_" + the UTC time
// without colons + "_data.json"; the file in the sensor's folder under the data folder, encrypted
// by FileUtil. DownloadSession saves through it for the window and lumora-download alike.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

class FileUtil;

// Member "90" of the first record's object, white space at both ends removed (text fields end
// in CR LF); null when that member is missing or not text. Not checked for being a plain name:
// FileUtil does that where the id meets a path. Any thread.
QString sensorIdOf(const QJsonObject& firstRecord);

// sensorId + "_" + the UTC time of now as yyyy-MM-ddTHHmmss.zzzZ (ISO 8601 with milliseconds,
// colons removed) + "_data.json". Any thread.
QString downloadFileName(const QString& sensorId, const QDateTime& now);

// Names and saves document (in its saved form) for sensorId (not empty) and the moment now
// through files (combineSensorDirAndFilename, then write). Returns the saved file's full path, or
// an empty string when nothing was saved: files has then emitted raiseErrorMessage saying why (an
// id that is not a plain name, folders, key, encryption, disk). Blocks while encrypting and
// writing; on the thread files lives on.
QString saveDownload(FileUtil& files, const QByteArray& document, const QString& sensorId,
                     const QDateTime& now);
