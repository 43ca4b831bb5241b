#include "export/file_util.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>
#include <memory>

#include "export/cipher.h"
#include "export/download_save.h"
#include "platform/debug_log.h"

namespace {

const char kDataDirKey[] = "data_dir";
const char kPublicKeyKey[] = "public_key_file";
const char kUtf8Bom[] = "\xEF\xBB\xBF";

// Opened anew for every read, as UTF-8 (an administrator's file names are not Latin-1).
std::unique_ptr<QSettings> openSettings() {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::SystemScope,
                                                QStringLiteral("LumoraConnector"),
                                                QStringLiteral("Configuration"));
    settings->setIniCodec("UTF-8");
    return settings;
}

// Qt keeps a UTF-8 byte-order mark (Notepad writes one) as part of the first key, read as
// Latin-1: that key is the same key.
QString storedKey(const QSettings& settings, const char* key) {
    const QString marked = QLatin1String(kUtf8Bom) + QLatin1String(key);
    return !settings.contains(QLatin1String(key)) && settings.contains(marked)
               ? marked
               : QString::fromLatin1(key);
}

QString settingText(const QSettings& settings, const char* key, const QString& fallback) {
    const QVariant value = settings.value(storedKey(settings, key), fallback);
    // An unquoted comma makes QSettings read a list, whose toString() is empty: the files would
    // silently land in the current folder. Take the text back (spaces after commas are lost).
    if (value.type() == QVariant::StringList) {
        DebugLog("setting %s holds a comma; put the value in double quotes\n", key);
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

QString readSetting(const char* key, const QString& fallback) {
    return settingText(*openSettings(), key, fallback);
}

// The text after '=' on key's line under [General] or before any section, trimmed; null when
// there is none. The file's own bytes, before Qt's reading of comments, quotes and escapes.
QByteArray writtenValue(const QByteArray& text, const char* key) {
    bool general = true;
    const int bom = text.startsWith(kUtf8Bom) ? 3 : 0;
    for (const QByteArray& raw : text.mid(bom).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            general = line == "[General]";
        } else if (general && line.contains('=') && line.left(line.indexOf('=')).trimmed() == key) {
            return line.mid(line.indexOf('=') + 1).trimmed();
        }
    }
    return {};
}

// Why Qt reads key's value other than it is written, with the fix, or an empty string: an
// unquoted ';' starts a comment and cuts the value, a '"' inside it is dropped, and a '\'
// starts an escape.
QString valueProblem(const QSettings& settings, const QByteArray& text, const char* key) {
    const QByteArray written = writtenValue(text, key);
    const bool quoted = written.size() >= 2 && written.startsWith('"') && written.endsWith('"');
    if (!quoted && (written.contains(';') || written.contains('"'))) {
        return QCoreApplication::translate(
                   "FileUtil",
                   "The settings file %1 is read wrongly at %2: this file format takes ';' for "
                   "the start of a comment and '\"' for a quote. Put the whole value in double "
                   "quotes.")
            .arg(settings.fileName(), QLatin1String(key));
    }
    const QString literal = QString::fromUtf8(quoted ? written.mid(1, written.size() - 2) : written)
                                .replace(QLatin1String("\\\\"), QLatin1String("\\"));
    if (written.contains('\\') && settingText(settings, key, {}) != literal) {
        return QCoreApplication::translate(
                   "FileUtil",
                   "The settings file %1 is read wrongly at %2: this file format takes '\\' for "
                   "the start of an escape. Write paths with '/'.")
            .arg(settings.fileName(), QLatin1String(key));
    }
    return {};
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

// Qt reads almost any text as INI and drops what it cannot place: a section header without its
// bracket would silently hide every key below it. Each line must be blank, a comment, a
// [section] or a key=value (or continue the line before with a final backslash).
bool looksLikeIni(const QByteArray& text) {
    bool continued = false;
    const int bom = text.startsWith(kUtf8Bom) ? 3 : 0;
    for (const QByteArray& raw : text.mid(bom).split('\n')) {
        const QByteArray line = raw.trimmed();
        const bool wasContinued = continued;
        continued = line.endsWith('\\');
        if (wasContinued || line.isEmpty() || line.startsWith(';') || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith('[') ? !line.endsWith(']') : !line.contains('=')) {
            return false;
        }
    }
    return true;
}

// These name devices on Windows, whatever follows a dot; the superscript digits count as digits.
bool isWindowsDeviceName(const QString& name) {
    const QString base = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QRegularExpression device(
        QStringLiteral("^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|(COM|LPT)[0-9\u00B9\u00B2\u00B3])$"));
    return device.match(base).hasMatch();
}

FileUtil::FileUtil(QObject* parent) : QObject(parent) {}

QString FileUtil::plainNameProblem(const QString& name) {
    if (name.trimmed().isEmpty()) {
        return tr("it is empty");
    }
    if (name.trimmed() != name) {
        return tr("it begins or ends with white space");
    }
    if (name.count(QLatin1Char('.')) == name.size()) {
        return tr("it is made of dots only");
    }
    // Windows drops a final dot, so the file would land under another name.
    if (name.endsWith(QLatin1Char('.'))) {
        return tr("it ends with a dot");
    }
    if (isWindowsDeviceName(name)) {
        return tr("it names a device on Windows");
    }
    for (const QChar c : name) {
        if (c == '/' || c == '\\') {
            return tr("it contains a path separator");
        }
        if (isControlOrFormat(c)) {
            return tr("it contains a control character");
        }
        if (QStringLiteral(":*?\"<>|").contains(c)) {
            return tr("it contains %1, which file names may not hold").arg(c);
        }
    }
    return {};
}

QString FileUtil::sensorIdProblem(const QString& id) {
    const QString problem = plainNameProblem(id);
    if (!problem.isEmpty()) {
        return problem;
    }
    // Its folder, and its file name with the time, suffix and the temporary file's extra letters
    // after it, each stay within the 255 bytes a file name may have.
    if (id.toUtf8().size() > kMaxSensorIdBytes) {
        return tr("it is longer than %1 bytes").arg(kMaxSensorIdBytes);
    }
    return {};
}

QString FileUtil::settingsFile() {
    return openSettings()->fileName();
}

QString FileUtil::settingsProblem() {
    const std::unique_ptr<QSettings> settings = openSettings();
    const QString file = settings->fileName();
    if (!QFileInfo::exists(file)) {
        return {};
    }
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly)) {
        return tr("The settings file %1 cannot be read (%2). Let this user read it, or remove it "
                  "to use the defaults.")
            .arg(file, probe.errorString());
    }
    const QByteArray text = probe.readAll();
    if (settings->status() != QSettings::NoError || !looksLikeIni(text)) {
        return tr("The settings file %1 is not a valid INI file. Correct it, or remove it to use "
                  "the defaults.")
            .arg(file);
    }
    if (!settings->contains(storedKey(*settings, kDataDirKey)) &&
        !settings->contains(storedKey(*settings, kPublicKeyKey))) {
        return tr("The settings file %1 holds neither data_dir nor public_key_file under "
                  "[General]. Put them under [General], or remove the file to use the defaults.")
            .arg(file);
    }
    for (const char* key : {kDataDirKey, kPublicKeyKey}) {
        const QString problem = valueProblem(*settings, text, key);
        if (!problem.isEmpty()) {
            return problem;
        }
    }
    return {};
}

QString FileUtil::setupProblem(const QString& sensorId) {
    const QString settings = settingsProblem();
    if (!settings.isEmpty()) {
        return settings;
    }
    const QString keyFile = getPublicKeyFile();
    QString failure;
    if (!Cipher().loadPublicKey(keyFile, &failure)) {
        return tr("The public key %1 cannot be used: %2. Set public_key_file in %3 to the "
                  "recipient's PEM public key.")
            .arg(keyFile, failure, settingsFile());
    }
    const QString dataPath = sensorFoldersParent();
    DebugLog("sensor folders will be %s<sensor id>, in %s\n", qUtf8Printable(baseSubjectDataDir()),
             qUtf8Printable(dataPath));
    const QFileInfo data(dataPath);
    if (!data.isDir()) {
        return tr("The data folder %1 does not exist. Create it, or set data_dir in %2 to a "
                  "folder that exists.")
            .arg(dataPath, settingsFile());
    }
    if (!data.isWritable()) {
        return tr("This user may not write to the data folder %1. Change its permissions, or set "
                  "data_dir in %2 to a folder this user may write to.")
            .arg(dataPath, settingsFile());
    }
    return sensorId.isEmpty() ? QString() : sensorFolderProblem(sensorFolder(sensorId));
}

QString FileUtil::sensorFoldersParent() {
    const QString dataDir = baseSubjectDataDir();
    const int cut =
        std::max(dataDir.lastIndexOf(QLatin1Char('/')), dataDir.lastIndexOf(QDir::separator()));
    return QDir(cut < 0 ? QStringLiteral(".") : dataDir.left(cut + 1)).absolutePath();
}

QString FileUtil::sensorFolder(const QString& sensorId) {
    return QDir(baseSubjectDataDir() + sensorId).absolutePath();
}

QString FileUtil::sensorFolderProblem(const QString& path) {
    const QFileInfo folder(path);
    if (folder.exists() && (!folder.isDir() || !folder.isWritable())) {
        return tr("This user may not write to the sensor folder %1. Change its permissions, or "
                  "set data_dir in %2 to a folder this user may write to.")
            .arg(path, settingsFile());
    }
    return {};
}

bool FileUtil::write(const QString& filename, const QByteArray& data) {
    const bool saved = saveEncrypted(filename, data);
    // A sensor folder made for this save alone is not left behind empty.
    if (!saved && !madeSensorFolder_.isEmpty() &&
        QFileInfo(filename).absolutePath() == madeSensorFolder_) {
        QDir().rmdir(madeSensorFolder_);
    }
    madeSensorFolder_.clear();
    return saved;
}

bool FileUtil::saveEncrypted(const QString& filename, const QByteArray& data) {
    const QString settings = settingsProblem();
    if (!settings.isEmpty()) {
        emit raiseErrorMessage(settings);
        return false;
    }
    const QString dataPath = sensorFoldersParent();
    DebugLog("data path is %s\n", qUtf8Printable(dataPath));
    if (!QDir(dataPath).exists() && !QDir().mkdir(dataPath)) {
        emit raiseErrorMessage(tr("Could not create the data path %1").arg(dataPath));
    }
    if (filename.isEmpty()) {
        emit raiseErrorMessage(tr("Could not save the sensor file: it has no name."));
        return false;
    }
    // Written beside the target and renamed into place on commit; dropped unless committed.
    QSaveFile file(filename);
    // Unbuffered: a short write shows at once, and the next one gives the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        emit raiseErrorMessage(
            tr("Could not save the sensor file. Check the permissions on the directory for %1: %2")
                .arg(QFileInfo(filename).absolutePath(), file.errorString()));
        return false;
    }
    // Health data: readable by its owner only, before any byte is written.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        DebugLog("could not restrict %s to its owner\n", qUtf8Printable(filename));
    }

    const QString keyFile = getPublicKeyFile();
    Cipher cipher;
    QString failure;
    const EvpPkeyPtr key = cipher.loadPublicKey(keyFile, &failure);
    if (!key) {
        emit raiseErrorMessage(
            tr("Could not load the public key %1: %2. The sensor file was not saved.")
                .arg(keyFile, failure));
        return false;
    }
    const QByteArray bytes = cipher.encrypt(key.get(), data, &failure);
    if (bytes.isEmpty()) {
        emit raiseErrorMessage(tr("Could not encrypt the sensor file for the public key %1: %2. "
                                  "The sensor file was not saved.")
                                   .arg(keyFile, failure));
        return false;
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            break;
        }
        written += n;
    }
    // A failed write is never committed: a short file would be renamed into place.
    if (written != bytes.size() || !file.commit()) {
        emit raiseErrorMessage(
            tr("Could not save the sensor file %1: %2").arg(filename, file.errorString()));
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
    const QString settings = settingsProblem();
    if (!settings.isEmpty()) {
        emit raiseErrorMessage(settings);
        return {};
    }
    if (!sensorIdUsable(sensorId)) {
        return {};
    }
    const QString path = sensorFolder(sensorId);
    const QString access = sensorFolderProblem(path);
    if (!access.isEmpty()) {
        emit raiseErrorMessage(access);
        return {};
    }
    if (!QDir(path).exists()) {
        if (QDir().mkdir(path)) {
            madeSensorFolder_ = path;
        } else {
            emit raiseErrorMessage(tr("Could not create the sensor path %1").arg(path));
        }
    }
    return path;
}

QByteArray FileUtil::readAll(const QString& filename) {
    if (filename.isEmpty()) {
        emit raiseErrorMessage(tr("Could not read file") + filename);
        return QByteArray();
    }
    QFile file(filename);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("");
    }
    return file.readAll();
}

bool FileUtil::sensorIdUsable(const QString& sensorId) {
    const QString problem = sensorIdProblem(sensorId);
    if (!problem.isEmpty()) {
        emit raiseErrorMessage(
            tr("Refused the sensor id %1: %2. Nothing was saved.").arg(quoted(sensorId), problem));
    }
    return problem.isEmpty();
}

QString FileUtil::combineSensorDirAndFilename(const QString& sensorId, const QString& filename) {
    // The file name holds the id: what is wrong with the id is said as such.
    if (!sensorIdUsable(sensorId)) {
        return {};
    }
    const QString problem = plainNameProblem(filename);
    if (!problem.isEmpty()) {
        emit raiseErrorMessage(
            tr("Refused the file name %1: %2. Nothing was saved.").arg(quoted(filename), problem));
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
