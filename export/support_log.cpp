#include "export/support_log.h"

#include <openssl/crypto.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include "platform/debug_log.h"
#include "platform/program_version.h"

QString supportLogHeader(const QString& program) {
    const QDateTime now = QDateTime::currentDateTime();
    return QStringLiteral("%1 %2\nOS: %3, %4 %5\nQt %6, %7\nStarted %8\n")
        .arg(program, QString::fromLatin1(kLumoraVersion), QSysInfo::prettyProductName(),
             QSysInfo::kernelType(), QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
             QString::fromLatin1(OpenSSL_version(OPENSSL_VERSION)),
             now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs));
}

void startSupportLog(const QString& program) {
    DebugLogKeepSupportFile(supportLogHeader(program).toUtf8().constData());
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        DebugLog("%s\n", qUtf8Printable(message));
    });
}

QString supportLogFile() {
    return QDir::toNativeSeparators(QString::fromStdString(DebugLogFileName()));
}

QString supportLogFolder() {
    const QString file = supportLogFile();
    return file.isEmpty() ? file : QDir::toNativeSeparators(QFileInfo(file).absolutePath());
}
