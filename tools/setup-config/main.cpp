// lumora-setup-config: run by the Windows installer, as the system account, once the files are
// in place. Writes the machine's settings file from the installer's DATADIR and PUBLICKEY:
//   lumora-setup-config --install-dir DIR [--data-dir DIR] [--public-key FILE]
// The settings are written through QSettings, as the programs read them, so every path reads
// back exactly (backslashes, commas and non-ASCII names included). Exit 0 when the settings are
// as asked; otherwise 1, which makes the installer roll back.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <cstdio>

namespace {

const char kDataDirKey[] = "data_dir";
const char kPublicKeyKey[] = "public_key_file";
const char kPublicKeyCopy[] = "publickey.pem";

int fail(const QString& message) {
    std::fprintf(stderr, "lumora-setup-config: %s\n", qUtf8Printable(message));
    return 1;
}

// A folder as data_dir wants it: forward slashes, no doubled ones, and a final one, since the
// sensor id is appended directly.
QString asFolder(const QString& path) {
    QString folder = QDir::cleanPath(QDir::fromNativeSeparators(path));
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    return folder;
}

// Copies the key beside the programs, where only administrators can change it. A private key
// is refused: the copy is readable by every user.
QString copyPublicKey(const QString& source, const QString& installDir, QString* error) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the public key %1: %2").arg(source, in.errorString());
        return {};
    }
    const QByteArray pem = in.readAll();
    if (!pem.contains("-----BEGIN PUBLIC KEY-----") || pem.contains("PRIVATE KEY")) {
        *error = QStringLiteral("%1 is not a PEM public key (BEGIN PUBLIC KEY)").arg(source);
        return {};
    }
    const QString copy = QDir(QDir::fromNativeSeparators(installDir)).filePath(kPublicKeyCopy);
    QSaveFile out(copy);
    if (!out.open(QIODevice::WriteOnly) || out.write(pem) != pem.size() || !out.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(copy, out.errorString());
        return {};
    }
    return copy;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption installDirOption(QStringLiteral("install-dir"),
                                              QStringLiteral("the programs' folder"),
                                              QStringLiteral("DIR"));
    const QCommandLineOption dataDirOption(
        QStringLiteral("data-dir"), QStringLiteral("data_dir to write"), QStringLiteral("DIR"));
    const QCommandLineOption publicKeyOption(QStringLiteral("public-key"),
                                             QStringLiteral("key to copy and name"),
                                             QStringLiteral("FILE"));
    parser.addOptions({installDirOption, dataDirOption, publicKeyOption});
    if (!parser.parse(app.arguments())) {
        return fail(parser.errorText());
    }
    // The installer passes each property as "[PROPERTY] ": the space keeps a final backslash
    // from escaping the quote. Windows paths never end in a space.
    const QString installDir = parser.value(installDirOption).trimmed();
    const QString dataDir = parser.value(dataDirOption).trimmed();
    const QString publicKey = parser.value(publicKeyOption).trimmed();

    QSettings settings(QSettings::IniFormat, QSettings::SystemScope,
                       QStringLiteral("LumoraConnector"), QStringLiteral("Configuration"));
    settings.setIniCodec("UTF-8");
    const QFileInfo file(settings.fileName());
    // An upgrade or repair without properties keeps what the clinic has set.
    if (file.exists() && dataDir.isEmpty() && publicKey.isEmpty()) {
        return 0;
    }
    // Everything that can fail comes first, the key (the likeliest) before all: QSettings writes
    // what it was given even when we give up, and a failed install must leave no settings.
    QString keyCopy;
    if (!publicKey.isEmpty()) {
        QString error;
        keyCopy = copyPublicKey(publicKey, installDir, &error);
        if (keyCopy.isEmpty()) {
            return fail(error);
        }
    }
    // Written on every fresh install, even with no properties, so that the file exists and
    // belongs to an administrator: a user cannot put one of their own in its place.
    QString folder;
    if (!dataDir.isEmpty() || !file.exists()) {
        folder = asFolder(dataDir.isEmpty() ? file.absolutePath() + "/data" : dataDir);
        if (!QDir().mkpath(folder)) {
            return fail(QStringLiteral("cannot create the data folder %1").arg(folder));
        }
    }
    if (!folder.isEmpty()) {
        settings.setValue(QLatin1String(kDataDirKey), folder);
    }
    if (!keyCopy.isEmpty()) {
        settings.setValue(QLatin1String(kPublicKeyKey), keyCopy);
    }
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        return fail(QStringLiteral("cannot write %1").arg(settings.fileName()));
    }
    return 0;
}
