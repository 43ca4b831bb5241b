// Saving a downloaded document the way the window does: the sensor id from member "90" of the
// first record, trimmed; the file name sensor id + "_" + the UTC time without colons +
// "_data.json"; the file in the sensor's folder under the data folder, encrypted by FileUtil.
// The window does this in QML; lumora-download and the tests share this one C++ copy of the
// rule.
#pragma once

#include <QDateTime>
#include <QString>

class FileUtil;

// Member "90" of the first object of the document's "records", white space at both ends
// removed by QString::trimmed (text fields end in CR LF); the window and lumora-download both
// take the id from here. Empty, with *problem saying why for the user, when the document is not
// JSON, has no records, or that member is missing, not text or blank. Not checked for being a
// plain name: FileUtil does that where the id meets a path. Any thread.
QString sensorIdOf(const QString& document, QString* problem);

// sensorId + "_" + the UTC time of now as yyyy-MM-ddTHHmmss.zzzZ (ISO 8601 with milliseconds,
// colons removed) + "_data.json". Any thread.
QString downloadFileName(const QString& sensorId, const QDateTime& now);

// Names and saves document for the moment now through files (combineSensorDirAndFilename, then
// write). Returns the saved file's full path, or an empty string when nothing was saved: then
// *problem says why if the document holds no sensor id, and files has emitted
// raiseErrorMessage for every other failure (an id that is not a plain name, folders, key,
// encryption, disk). Blocks while encrypting and writing; on the thread files lives on.
QString saveDownload(FileUtil& files, const QString& document, const QDateTime& now,
                     QString* problem);
