#include "app/connector_app.h"

#include <QGuiApplication>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QtQml>

#include "app/translations.h"
#include "client/reader_callbacks.h"
#include "export/download_session.h"
#include "export/settings_path.h"
#include "export/support_log.h"
#include "platform/program_version.h"
#include "protocol/aap_layer.h"

int startConnector(QQmlApplicationEngine& engine, const QUrl& window) {
    // The window's one C++ type: it makes its session, which is deleted, its thread joined,
    // with the window.
    qmlRegisterType<DownloadSession>("com.norvane.lumora", 1, 0, "DownloadSession");
    // The window's version text.
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kLumoraVersion));
    // Where the error dialog says the log is; empty when none is written.
    const QString logFolder = supportLogFolder();
    engine.rootContext()->setContextProperty("logFolder", logFolder);
    engine.rootContext()->setContextProperty(
        "logFolderUrl", logFolder.isEmpty() ? QUrl() : QUrl::fromLocalFile(logFolder));

    engine.load(window);
    if (engine.rootObjects().isEmpty()) {
        return kNoWindowExitCode;
    }
    // Only now: the session is connected to the device client, and the AAP layer announces a
    // reader once.
    AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
            onReaderDebugPrint, nullptr);
    return 0;
}

int runConnector(int argc, char** argv) {
    startSupportLog(QStringLiteral("lumora-connector"));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    applySettingsPathFromEnvironment();
    // Before the window loads: its texts are translated as it is made.
    installTranslators(QLocale::system().uiLanguages());
    QQmlApplicationEngine engine;
    const int started = startConnector(engine);
    if (started != 0) {
        return started;
    }
    return app.exec();
}
