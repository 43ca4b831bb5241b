#include "export/file_util.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

#include "export/cipher.h"

namespace {

QString readSetting(const char* key, const QString& fallback) {
    QSettings settings(QSettings::IniFormat, QSettings::SystemScope,
                       QStringLiteral("LumoraConnector"), QStringLiteral("Configuration"));
    const QVariant value = settings.value(QLatin1String(key), fallback);
    // An unquoted comma makes QSettings read a list, whose toString() is empty: the files would
    // silently land in the current folder. Take the text back (spaces after commas are lost).
    if (value.type() == QVariant::StringList) {
        qWarning().noquote() << "setting" << key << "holds a comma; put the value in double quotes";
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

// Format characters such as direction overrides can make a name look like another one.
bool isControlOrFormat(QChar c) {
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
}

// Shows a name from the reader inside a message without letting control characters through.
QString quoted(const QString& name) {
    constexpr int kShown = 64;
    QString shown;
    for (const QChar c : name.left(kShown)) {
        shown += isControlOrFormat(c)
                     ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                     : QString(c);
    }
    return '"' + shown + (name.size() > kShown ? QStringLiteral("...\"") : QStringLiteral("\""));
}

}  // namespace

FileUtil::FileUtil(QObject* parent) : QObject(parent) {}

QString FileUtil::plainNameProblem(const QString& name) {
    if (name.trimmed().isEmpty()) {
        return QStringLiteral("it is empty");
    }
    if (name.trimmed() != name) {
        return QStringLiteral("it begins or ends with white space");
    }
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        return QStringLiteral("it names a folder, not a file");
    }
    for (const QChar c : name) {
        if (c == '/' || c == '\\') {
            return QStringLiteral("it contains a path separator");
        }
        if (isControlOrFormat(c)) {
            return QStringLiteral("it contains a control character");
        }
        if (QStringLiteral(":*?\"<>|").contains(c)) {
            return QStringLiteral("it contains %1, which file names may not hold").arg(c);
        }
    }
    return {};
}

bool FileUtil::write(const QString& filename, const QByteArray& data) {
    const QString dataPath = QDir(baseSubjectDataDir()).absolutePath();
    qInfo().noquote() << "data path is" << dataPath;
    if (!QDir(dataPath).exists() && !QDir().mkdir(dataPath)) {
        emit raiseErrorMessage("Could not create the data path " + dataPath);
    }
    if (filename.isEmpty()) {
        emit raiseErrorMessage(QStringLiteral("Could not save the sensor file: it has no name."));
        return false;
    }
    // Written beside the target and renamed into place on commit; dropped unless committed.
    QSaveFile file(filename);
    if (!file.open(QIODevice::WriteOnly)) {
        emit raiseErrorMessage(
            "Could not save the sensor file. Check the permissions on the diretory for " +
            dataPath);
        return false;
    }
    // Health data: readable by its owner only, before any byte is written.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qWarning().noquote() << "could not restrict" << filename << "to its owner";
    }

    const QString keyFile = getPublicKeyFile();
    Cipher cipher;
    QString failure;
    const EvpPkeyPtr key = cipher.loadPublicKey(keyFile, &failure);
    if (!key) {
        emit raiseErrorMessage("Could not load the public key " + keyFile + ": " + failure +
                               ". The sensor file was not saved.");
        return false;
    }
    const QByteArray bytes = cipher.encrypt(key.get(), data, &failure);
    if (bytes.isEmpty()) {
        emit raiseErrorMessage("Could not encrypt the sensor file for the public key " + keyFile +
                               ": " + failure + ". The sensor file was not saved.");
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        emit raiseErrorMessage("Could not save the sensor file " + filename + ": " +
                               file.errorString());
        return false;
    }
    return true;
}

QString FileUtil::currentDir() {
    return QDir::currentPath();
}

QString FileUtil::baseSubjectDataDir() {
    return readSetting("data_dir", QDir::currentPath() + QDir::separator() +
                                       QStringLiteral("data") + QDir::separator());
}

QString FileUtil::ensureSensorDir(const QString& sensorId) {
    const QString problem = plainNameProblem(sensorId);
    if (!problem.isEmpty()) {
        emit raiseErrorMessage("Refused the sensor id " + quoted(sensorId) + ": " + problem +
                               ". Nothing was saved.");
        return {};
    }
    const QString path = QDir(baseSubjectDataDir() + sensorId).absolutePath();
    if (!QDir(path).exists() && !QDir().mkdir(path)) {
        emit raiseErrorMessage("Could not create the sensor path " + path);
    }
    return path;
}

QByteArray FileUtil::readAll(const QString& filename) {
    if (filename.isEmpty()) {
        emit raiseErrorMessage("Could not read file" + filename);
        return QByteArray();
    }
    QFile file(filename);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("");
    }
    return file.readAll();
}

QString FileUtil::combineSensorDirAndFilename(const QString& sensorId, const QString& filename) {
    const QString problem = plainNameProblem(filename);
    if (!problem.isEmpty()) {
        emit raiseErrorMessage("Refused the file name " + quoted(filename) + ": " + problem +
                               ". Nothing was saved.");
        return {};
    }
    const QString sensorDir = ensureSensorDir(sensorId);
    if (sensorDir.isEmpty()) {
        return {};
    }
    return sensorDir + QDir::separator() + filename;
}

QByteArray FileUtil::asByteArrayInLatin1(const QString& text) {
    return text.toLatin1();
}

QByteArray FileUtil::asByteArrayInUtf16(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QString FileUtil::getPublicKeyFile() {
    return readSetting("public_key_file",
                       QDir::currentPath() + QDir::separator() + QStringLiteral("publickey.pem"));
}
