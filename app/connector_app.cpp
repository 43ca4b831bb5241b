#include "app/connector_app.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QtQml>

#include "app/file_url.h"
#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "export/download_mediator.h"
#include "export/file_util.h"
#include "export/settings_path.h"
#include "platform/program_version.h"
#include "protocol/aap_layer.h"

int startConnector(QQmlApplicationEngine& engine, const QUrl& window) {
    qmlRegisterType<FileUtil>("com.norvane.qml.fileutil", 1, 0, "FileUtil");
    qmlRegisterType<DownloadMediator>("com.norvane.qml.downloadmediator", 1, 0, "DownloadMediator");
    qmlRegisterSingletonType<FileUrl>(
        "com.norvane.qml.fileurl", 1, 0, "FileUrl",
        [](QQmlEngine*, QJSEngine*) -> QObject* { return new FileUrl; });

    // The window's version text.
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kLumoraVersion));
    // Created here, on the GUI thread, so that the client belongs to it.
    engine.rootContext()->setContextProperty(QStringLiteral("client"), DeviceClient::instance());
    engine.rootContext()->setContextProperty(QStringLiteral("downloadMediator"),
                                             new DownloadMediator);

    engine.load(window);
    if (engine.rootObjects().isEmpty()) {
        return kNoWindowExitCode;
    }
    // Only now: the window's handlers are connected, and the AAP layer announces a reader once.
    AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
            onReaderDebugPrint, nullptr);
    return 0;
}

int runConnector(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    applySettingsPathFromEnvironment();
    QQmlApplicationEngine engine;
    const int started = startConnector(engine);
    if (started != 0) {
        return started;
    }
    return app.exec();
}
