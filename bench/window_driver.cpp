// lumora-window-bench MODE: the window of lumora-connector, started the same way, driven by the
// download bench against a reader that is already plugged in (LUMORA_HID_SOCKET_DIR and
// XDG_CONFIG_DIRS come from the bench). Modes:
//   download      press Get Data once the reader is connected; exit 0 once the transfer dialog
//                 shows, 1 on an error dialog or after the patience runs out
//   idle SECONDS  once the reader is connected and 3 s have passed, let the window idle and
//                 print the CPU time it used meanwhile as a percentage of one core
//   cancel        press Get Data, press Cancel once records arrive, then download again; once
//                 that one is saved, print the seconds from the Cancel until the window was ready
//                 again and exit 0
// Its peak memory is what the bench reads from the ended process.
#include <stdlib.h>
#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/connector_app.h"
#include "export/download_session.h"
#include "export/settings_path.h"

namespace {

constexpr int kPatienceMs = 600000;
constexpr int kReady = DownloadSession::Ready;

bool waitFor(const std::function<bool()>& condition, int patienceMs = kPatienceMs) {
    const QDeadlineTimer deadline(patienceMs);
    QTimer wake;
    wake.start(100);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    const bool idle = argc == 3 && std::strcmp(argv[1], "idle") == 0;
    const bool cancel = argc == 2 && std::strcmp(argv[1], "cancel") == 0;
    if (!idle && !cancel && !(argc == 2 && std::strcmp(argv[1], "download") == 0)) {
        std::fprintf(stderr, "usage: lumora-window-bench download | idle SECONDS | cancel\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_QUICK_BACKEND", "software", 1);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    applySettingsPathFromEnvironment();
    QQmlApplicationEngine engine;
    if (startConnector(engine) != 0) {
        return 1;
    }
    QObject* window = engine.rootObjects().value(0);
    auto item = [window](const char* name) { return window->findChild<QObject*>(name); };
    auto flag = [&item](const char* name, const char* property) {
        return item(name)->property(property).toBool();
    };
    if (!waitFor([&] { return flag("btnGetData", "enabled"); })) {
        return 1;
    }
    if (idle) {
        // First the start-up's last work (first frames, the reader's serial number and clock).
        QTimer::singleShot(3000, &app, &QCoreApplication::quit);
        app.exec();
        const double seconds = std::atof(argv[2]);
        const double start = cpuSeconds();
        QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
        app.exec();
        std::printf("%f\n", 100 * (cpuSeconds() - start) / seconds);
        return 0;
    }
    QMetaObject::invokeMethod(item("btnGetData"), "clicked");
    double cancelSeconds = 0;
    if (cancel) {
        if (!waitFor(
                [&] { return !item("lblRecordCount")->property("text").toString().isEmpty(); })) {
            return 1;
        }
        QElapsedTimer pressed;
        pressed.start();
        QMetaObject::invokeMethod(item("btnCancel"), "clicked");
        // Ready again: the worker has let go of the reader.
        if (!waitFor([&] {
                return !flag("progressDialog", "visible") && flag("btnGetData", "enabled") &&
                       item("session")->property("state").toInt() == kReady;
            })) {
            return 1;
        }
        cancelSeconds = double(pressed.nsecsElapsed()) / 1e9;
        QMetaObject::invokeMethod(item("btnGetData"), "clicked");
    }
    if (!waitFor(
            [&] { return flag("transferDialog", "visible") || flag("errorDialog", "visible"); }) ||
        !flag("transferDialog", "visible")) {
        return 1;
    }
    if (cancel) {
        std::printf("%f\n", cancelSeconds);
    }
    return 0;
}
