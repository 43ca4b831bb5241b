// The window's door to the file system: the two settings, the per-sensor folders below the data
// folder, and saving a document encrypted with Cipher.
//
// Settings (read only, opened anew for every read): INI, system scope, organisation
// "LumoraConnector", application "Configuration"; keys data_dir and public_key_file.
// A sensor folder is the data_dir value with the sensor id appended directly (no separator
// inserted), created by itself only, never recursively.
//
// Lives on the GUI thread and is called only there. Failures the user must see are emitted as
// raiseErrorMessage during the failing call; diagnostics go to the debug log.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>

class FileUtil : public QObject {
    Q_OBJECT
public:
    explicit FileUtil(QObject* parent = nullptr);

    // Why name cannot be used as one folder or file name below the data folder, or an empty
    // string when it can: it must not be empty, keep white space at its ends, be "." or "..",
    // or hold a path separator, a control or format character or a character Windows forbids.
    // The one check for sensor ids and file names from the reader, wherever they meet a path.
    // It must also not be dots only, end with a dot, or name a Windows device (CON, PRN, AUX,
    // NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and COM or LPT with a superscript 1-3, with or without
    // an extension).
    static QString plainNameProblem(const QString& name);
    // As plainNameProblem, and an id longer than kMaxSensorIdBytes in UTF-8 is refused too.
    static QString sensorIdProblem(const QString& id);
    static constexpr int kMaxSensorIdBytes = 200;

    // The settings file the programs read (it may not exist).
    static QString settingsFile();
    // Why the settings file cannot be used, naming it and the fix, or an empty string: present
    // but unreadable, not valid INI, or holding neither key under [General]. A missing file is
    // no problem: the defaults apply. Blocks for one small file read.
    static QString settingsProblem();

signals:
    void raiseErrorMessage(QString message);

public slots:
    // Encrypts data (the document in its saved form, as buildDownloadDocument makes it) as it
    // is for the configured public key and saves it as filename, replacing any earlier file
    // only once the new one is complete (temporary file, then rename; owner-only on POSIX). True
    // when saved; false, with a message and the old file untouched, when the file cannot be
    // written, the key cannot be loaded or encryption fails.
    bool write(const QString& filename, const QByteArray& data);
    // The first set-up problem that would spoil a download, with its fix, or an empty string:
    // settingsProblem, a public key that does not load, a folder the sensor folders go in (data_dir
    // up to its last separator) that is missing or not writable, and, once sensorId is known, its
    // existing sensor folder that this user may not write to. Reads the key file.
    QString setupProblem(const QString& sensorId = QString());
    // The folder the sensor folders are made in: data_dir up to its last separator, absolute.
    QString sensorFoldersParent();
    QString currentDir();
    // The data_dir value, or the current folder + separator + "data" + separator.
    QString baseSubjectDataDir();
    // Creates the sensor folder if missing; returns its absolute path even when that fails.
    // Returns an empty string, with a message and nothing created, for an id that is not a
    // plain name or a sensor folder that exists but cannot be written. A folder it made is
    // removed again, if empty, when the next write fails.
    QString ensureSensorDir(const QString& sensorId);
    // The content of filename; a null array and a message for an empty name; an empty array
    // and no message when it cannot be read.
    QByteArray readAll(const QString& filename);
    // As ensureSensorDir, then the absolute sensor folder, the native separator and filename.
    // Empty, with a message, when sensorId or filename is not a plain name.
    QString combineSensorDirAndFilename(const QString& sensorId, const QString& filename);
    // One byte per character; characters outside Latin-1 become '?'.
    QByteArray asByteArrayInLatin1(const QString& text);
    // The UTF-16 code units, low byte first, no terminator.
    QByteArray asByteArrayInUtf16(const QString& text);
    // The public_key_file value, or the current folder + separator + "publickey.pem".
    QString getPublicKeyFile();

private:
    QString sensorFolder(const QString& sensorId);
    // Whether sensorId may name a folder; emits why not.
    bool sensorIdUsable(const QString& sensorId);
    QString sensorFolderProblem(const QString& path);
    bool saveEncrypted(const QString& filename, const QByteArray& data);

    QString madeSensorFolder_;  // made by the last ensureSensorDir, for the next write
};
