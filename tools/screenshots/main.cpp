// lumora-screenshots OUT_DIR [LANGUAGE]: starts the window as lumora-connector does (in LANGUAGE,
// such as "de", or the system's), against simulated readers in a temporary folder with a key made
// for the run, and saves PNG pictures of it waiting for a reader, connected, downloading, with
// the transfer dialog and with the no-data message. Needs X (Xvfb), or Windows (Wine inside Xvfb):
// the pictures are taken from the screen, as a user sees the window.
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/connector_app.h"
#include "app/translations.h"
#include "export/openssl_util.h"
#include "export/settings_path.h"
#include "platform/program_version.h"
#include "tools/reader-sim/reader_sim.h"

namespace {

constexpr int kPatienceMs = 60000;

bool waitFor(const std::function<bool()>& condition, int patienceMs = kPatienceMs) {
    const QDeadlineTimer deadline(patienceMs);
    QTimer wake;
    wake.start(patienceMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool writeKeyPair(const QString& publicPem) {
    EvpPkeyPtr key(EVP_RSA_gen(2048));
    BioPtr out(BIO_new_file(publicPem.toUtf8().constData(), "w"));
    return key && out && PEM_write_bio_PUBKEY(out.get(), key.get());
}

class Shooter {
public:
    Shooter(QQuickWindow* window, QString outDir) : window_(window), outDir_(std::move(outDir)) {}

    QObject* item(const char* name) const { return window_->findChild<QObject*>(name); }
    QString text(const char* name) const { return item(name)->property("text").toString(); }
    bool flag(const char* name, const char* property) const {
        return item(name)->property(property).toBool();
    }

    // Waits until the window has drawn a new frame, so the picture is current.
    void settle() {
        bool swapped = false;
        auto connection =
            QObject::connect(window_, &QQuickWindow::frameSwapped, [&] { swapped = true; });
        window_->update();
        waitFor([&] { return swapped; }, 5000);
        QObject::disconnect(connection);
    }

    bool shoot(const char* name) {
        settle();
        const QRect area = window_->geometry();
        const QImage picture = window_->screen()
                                   ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                   .toImage();
        const QString path = QDir(outDir_).filePath(QString::fromLatin1(name) + ".png");
        if (picture.isNull() || !picture.save(path)) {
            std::fprintf(stderr, "lumora-screenshots: cannot save %s\n", qPrintable(path));
            return false;
        }
        std::fprintf(stderr, "%s\n", qPrintable(path));
        return true;
    }

    void click(const char* button) { QMetaObject::invokeMethod(item(button), "clicked"); }

private:
    QQuickWindow* window_;
    QString outDir_;
};

std::unique_ptr<ReaderSim> plugReader(const QString& dir, const char* name, uint32_t records) {
    ReaderSimOptions options;
    options.dir = dir.toStdString();
    options.name = name;
    options.log = false;
    DefaultScenarioParams params;
    params.records = records;
    options.scenario = MakeDefaultScenario(params);
    auto reader = std::make_unique<ReaderSim>(options);
    std::string error;
    if (!reader->start(&error)) {
        std::fprintf(stderr, "lumora-screenshots: %s\n", error.c_str());
        return nullptr;
    }
    return reader;
}

// The next reader may come only once the window has seen this one go.
bool unplug(std::unique_ptr<ReaderSim>& reader, Shooter& shooter) {
    reader->stop();
    reader.reset();
    return waitFor([&] {
        return shooter.text("lblStatus1") ==
                   QCoreApplication::translate("main", "The reader is disconnected.") &&
               !shooter.flag("progressDialog", "visible");
    });
}

int fail(const char* what) {
    std::fprintf(stderr, "lumora-screenshots: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-screenshots")) {
        return 0;
    }
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: lumora-screenshots OUT_DIR [LANGUAGE]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
#ifdef _WIN32
    QTemporaryDir scratch;
#else
    // Short, so that the sockets' paths fit.
    QTemporaryDir scratch(QStringLiteral("/tmp/lumora-shots-XXXXXX"));
#endif
    const QString sockets = scratch.filePath("sock");
    const QString config = scratch.filePath("cfg");
    if (!QDir().mkpath(outDir) || !QDir().mkpath(sockets) ||
        !QDir().mkpath(config + "/LumoraConnector") || !QDir().mkpath(scratch.filePath("data")) ||
        !writeKeyPair(scratch.filePath("key.pem"))) {
        return fail("cannot prepare the scratch folder");
    }
    QFile ini(config + "/LumoraConnector/Configuration.ini");
    if (!ini.open(QIODevice::WriteOnly)) {
        return fail("cannot write the settings");
    }
    ini.write(QStringLiteral("[General]\ndata_dir=\"%1/\"\npublic_key_file=\"%2\"\n")
                  .arg(scratch.filePath("data"), scratch.filePath("key.pem"))
                  .toUtf8());
    ini.close();
    qputenv("LUMORA_HID_SOCKET_DIR", sockets.toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", config.toLocal8Bit());
    qputenv("LUMORA_DEBUG_LOG", scratch.filePath("debug.log").toLocal8Bit());

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && platform != QLatin1String("windows")) {
        return fail("needs an X display or Windows; run it under xvfb-run");
    }
    applySettingsPathFromEnvironment();
    // The build's translations, two folders up from this program.
    const QString language = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString taken = installTranslators(
        language.isEmpty() ? QLocale::system().uiLanguages() : QStringList{language},
        {QCoreApplication::applicationDirPath() + QStringLiteral("/../../translations")});
    if (!language.isEmpty() && language != QLatin1String("en") && taken != language) {
        return fail("no translation for that language");
    }
    QQmlApplicationEngine engine;
    if (startConnector(engine) != 0) {
        return fail("the window did not load");
    }
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    Shooter shooter(window, outDir);
    if (!waitFor([&] { return window->isExposed(); }) || !shooter.shoot("1-waiting")) {
        return fail("the window did not show");
    }

    // The download that succeeds comes first: one after a reader pulled out mid-download may
    // stall.
    std::unique_ptr<ReaderSim> reader = plugReader(sockets, "reader", 96);
    if (!reader || !waitFor([&] { return shooter.flag("btnGetData", "enabled"); }) ||
        !shooter.shoot("2-connected")) {
        return fail("the reader did not arrive");
    }
    shooter.click("btnGetData");
    if (!waitFor([&] { return shooter.flag("transferDialog", "visible"); }) ||
        !shooter.shoot("4-transfer")) {
        return fail("the transfer dialog did not open");
    }
    QMetaObject::invokeMethod(shooter.item("transferDialog"), "close");
    if (!unplug(reader, shooter)) {
        return fail("the removal did not show");
    }

    // A reader large enough that the download is still running when the bar has moved.
    reader = plugReader(sockets, "slow", 100000000);
    if (!reader || !waitFor([&] { return shooter.flag("btnGetData", "enabled"); })) {
        return fail("the second reader did not arrive");
    }
    shooter.click("btnGetData");
    if (!waitFor([&] { return shooter.item("progressBar")->property("value").toInt() >= 40; }) ||
        !shooter.shoot("3-downloading")) {
        return fail("the download did not show progress");
    }
    if (!unplug(reader, shooter)) {
        return fail("the removal did not end the download");
    }

    reader = plugReader(sockets, "empty", 0);
    if (!reader || !waitFor([&] { return shooter.flag("btnGetData", "enabled"); })) {
        return fail("the third reader did not arrive");
    }
    shooter.click("btnGetData");
    if (!waitFor([&] { return shooter.flag("errorDialog", "visible"); }) ||
        !shooter.shoot("5-no-data")) {
        return fail("the no-data message did not show");
    }
    reader->stop();
    return 0;
}
