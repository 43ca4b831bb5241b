// Start-up of the window program: the object wiring that lumora-connector's main runs, split out
// so that the window tests start the very same window in their own process.
#pragma once

#include <QUrl>

class QQmlApplicationEngine;

// The window document compiled into the program.
constexpr char kWindowDocument[] = "qrc:/main.qml";
// The program's exit code when the window cannot be created.
constexpr int kNoWindowExitCode = -1;

// Registers DownloadSession as the QML type of "com.norvane.lumora" 1.0 (the window makes and owns
// its session), sets the context properties logFolder and logFolderUrl (the log's folder, or
// empty), loads window and, only once it has a root object, starts the reader transport
// with the application's callbacks. Returns 0 then, or kNoWindowExitCode with the transport
// untouched when the document is missing or broken. Deleting the engine deletes the window and
// its session, which joins the download thread. GUI thread, after the application object exists;
// returns at once. The transport is started the first time only; window is kWindowDocument except
// in tests.
int startConnector(QQmlApplicationEngine& engine,
                   const QUrl& window = QUrl(QString::fromLatin1(kWindowDocument)));

// The whole program: the log, high-DPI scaling, the application object, the settings folder from
// the environment, startConnector, then the event loop until the window closes. Returns the exit
// code.
int runConnector(int argc, char** argv);
