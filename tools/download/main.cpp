// lumora-download: the download without a window. Waits for a reader, shows its serial number
// and clock, downloads and saves the file through the window's DownloadSession, and prints what
// the session says. Standard output holds only the serial-number, clock and saved-path lines;
// progress and one line per failure go to standard error, traces to the log file (and standard
// error with --verbose). SIGINT or SIGTERM (a console event on Windows) cancels the download and
// ends the program with nothing saved.
#include <stdio.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "client/reader_callbacks.h"
#include "export/download_session.h"
#include "export/settings_path.h"
#include "export/support_log.h"
#include "platform/program_version.h"
#include "platform/stop_signal.h"
#include "protocol/aap_layer.h"
#include "tools/download/console_output.h"

namespace {

enum ExitCode {
    kExitSaved = 0,
    kExitError = 1,  // settings, key, disk, a missing or unusable sensor id
    kExitUsage = 2,
    kExitNoData = 3,
    kExitNoReader = 4,  // none within the time-out, or removed during the download
    kExitNotAnswering = 5,
    // kStopExitInterrupt (130) and kStopExitTerminate (143): cancelled by a signal
};

constexpr int kDefaultTimeoutS = 60;
constexpr int kMaxTimeoutS = 24 * 60 * 60;

const char kUsage[] =
    "Usage: lumora-download [--timeout SECONDS] [--verbose]\n"
    "\n"
    "Waits for a reader, prints its serial number and clock, downloads its data and saves the\n"
    "encrypted file as the window does: <data_dir><sensor id>/<sensor id>_<UTC time>_data.json,\n"
    "with data_dir and public_key_file from the system settings (LumoraConnector/\n"
    "Configuration.ini in the first folder of XDG_CONFIG_DIRS that holds it, else /etc/xdg).\n"
    "Standard output holds only the lines \"Reader serial number: ...\", \"Reader clock: ...\"\n"
    "and, last, the saved file's full path. Progress and one line per failure go to standard\n"
    "error; traces go to the log for support (~/.local/state/lumora-connector/, or the file\n"
    "LUMORA_DEBUG_LOG names), and to standard error too with --verbose.\n"
    "A reader clock more than 5 minutes off this computer's is said on standard error.\n"
    "\n"
    "  -t, --timeout SECONDS  how long to wait for a reader (default 60)\n"
    "  -v, --verbose          traces on standard error too\n"
    "  -h, --help             show this help\n"
    "      --version          print the program's name and version\n"
    "\n"
    "Exit codes:\n"
    "  0  saved\n"
    "  1  error: settings, public key, disk, or a sensor id that is missing or not a plain name\n"
    "  2  usage error\n"
    "  3  the sensor has no data\n"
    "  4  no reader within the time-out, the reader was removed during the download, or a\n"
    "     reader is plugged in that this user may not open\n"
    "  5  the reader stopped answering, or sent a reply that could not be received whole\n"
    "  130  cancelled by SIGINT (Ctrl+C); nothing was saved\n"
    "  143  cancelled by SIGTERM (on Windows Ctrl+Break, or the console closed); nothing was\n"
    "       saved\n";

const char kNotAnswering[] = "the reader stopped answering; unplug it and plug it in again";

int complain(int code, const QString& message) {
    std::fprintf(stderr, "lumora-download: %s\n", qUtf8Printable(message));
    if (code == kExitUsage) {
        std::fputs("Try 'lumora-download --help'.\n", stderr);
    }
    return code;
}

// After a failure's line: where its details are. A cancel by signal has none to look up.
int pointToLog(int code) {
    const QString log = supportLogFile();
    const bool cancelled = code == kStopExitInterrupt || code == kStopExitTerminate;
    if (code != kExitSaved && !cancelled && !log.isEmpty()) {
        std::fprintf(stderr, "lumora-download: details are in the log %s\n", qUtf8Printable(log));
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-download")) {
        return kExitSaved;
    }
    PrepareStopSignal();
    useUtf8Console();
    FILE* const results = stdout;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "");
    const QCommandLineOption timeoutOption({"t", "timeout"}, "", "SECONDS");
    const QCommandLineOption verboseOption({"v", "verbose"}, "");
    parser.addOptions({help, timeoutOption, verboseOption});
    if (!parser.parse(app.arguments())) {
        return complain(kExitUsage, parser.errorText());
    }
    if (parser.isSet(help)) {
        std::fputs(kUsage, results);
        std::fflush(results);
        return kExitSaved;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return complain(kExitUsage, "unexpected argument " + parser.positionalArguments().first());
    }
    int timeoutS = kDefaultTimeoutS;
    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        timeoutS = parser.value(timeoutOption).toInt(&ok);
        if (!ok || timeoutS < 1 || timeoutS > kMaxTimeoutS) {
            return complain(
                kExitUsage,
                QStringLiteral("--timeout takes whole seconds, 1 to %1").arg(kMaxTimeoutS));
        }
    }
    // Before anything can write a trace; after --help and usage errors, which leave no log.
    routeTraces(parser.isSet(verboseOption));

    applySettingsPathFromEnvironment();
    // Everything below lives on this, the main, thread; the session's worker on its own.
    DownloadSession session;
    FileUtil& files = session.files();
    // Settings, key or data folder that cannot be used would only show after the download.
    const QString setup = session.setupProblem();
    if (!setup.isEmpty()) {
        return pointToLog(complain(kExitError, setup));
    }
    // "/srv/pre-" names no folder but the start of each sensor folder's name: easily mistaken.
    const QString dataDir = files.baseSubjectDataDir();
    if (!dataDir.endsWith('/') && !dataDir.endsWith(QDir::separator())) {
        complain(kExitSaved, QStringLiteral("note: data_dir %1 does not end in a separator, so the "
                                            "sensor folders will be %1<sensor id>, in %2")
                                 .arg(dataDir, files.sensorFoldersParent()));
    }

    bool started = false;  // the first reader's download; later arrivals are not this run's
    bool finished = false;
    Progress progress(isatty(fileno(stderr)));
    auto finish = [&](int code) {
        if (finished) {
            return;
        }
        finished = true;
        std::fflush(stdout);
        std::fflush(stderr);
        app.exit(code);
    };
    // A failure ends an updating progress line first.
    auto fail = [&](int code, const QString& message) {
        progress.interrupt();
        finish(complain(code, message));
    };

    QTimer readerTimeout;
    readerTimeout.setSingleShot(true);
    QObject::connect(&readerTimeout, &QTimer::timeout, [&] {
        fail(kExitNoReader, QStringLiteral("no reader connected within %1 s").arg(timeoutS));
    });

    QObject::connect(&session, &DownloadSession::stateChanged, [&] {
        switch (session.state()) {
            case DownloadSession::AccessDenied:
                // Said once the HID layer has given up on it, rather than after the whole wait.
                if (!started) {
                    fail(kExitNoReader, session.accessProblem());
                }
                break;
            case DownloadSession::Arriving:
                readerTimeout.stop();
                break;
            case DownloadSession::Ready:
                if (!started) {
                    started = true;
                    std::fprintf(results, "Reader serial number: %s\nReader clock: %s\n",
                                 qUtf8Printable(printableReaderText(session.serialNumber())),
                                 qUtf8Printable(printableReaderText(session.readerClock())));
                    std::fflush(results);
                    if (!session.clockWarning().isEmpty()) {
                        std::fprintf(stderr, "lumora-download: %s\n",
                                     qUtf8Printable(session.clockWarning()));
                    }
                    session.download();
                }
                break;
            default:
                break;
        }
    });
    QObject::connect(&session, &DownloadSession::tableStarted,
                     [&](const QString& table) { progress.start(table); });
    QObject::connect(&session, &DownloadSession::recordCountChanged,
                     [&] { progress.count(session.recordCount()); });
    QObject::connect(&session, &DownloadSession::tableFinished,
                     [&](const QString& table, int count) { progress.finish(table, count); });
    QObject::connect(&session, &DownloadSession::fileProblem,
                     [](const QString& message) { complain(kExitError, message); });
    QObject::connect(
        &session, &DownloadSession::failed,
        [&](DownloadSession::Failure failure, const QString& detail) {
            switch (failure) {
                case DownloadSession::NoData:
                    return fail(kExitNoData, "No data to report from the Sensor.");
                case DownloadSession::ReaderGone:
                    return fail(
                        kExitNoReader,
                        detail.isEmpty()
                            ? QStringLiteral("the reader was disconnected before the download")
                            : detail);
                case DownloadSession::NotAnswering:
                    return fail(kExitNotAnswering, kNotAnswering);
                case DownloadSession::NotSaved:
                    return finish(kExitError);
                case DownloadSession::SetupUnusable:
                case DownloadSession::NoSensorId:
                    return fail(kExitError, detail);
                case DownloadSession::Cancelled:
                    return;  // only a stop signal cancels, and it has ended the program
            }
        });
    QObject::connect(&session, &DownloadSession::saved, [&](const QString& path) {
        std::fprintf(results, "%s\n", qUtf8Printable(path));
        std::fflush(results);
        finish(kExitSaved);
    });

    // "stop-signal": waits for a stop signal for the whole run, then ends with the code it took.
    // Created and started here, never deleted nor joined, since the process may exit while it
    // waits; static, so that it is never taken for a leak.
    static int stopCode = 0;
    static QThread* const stopWatcher = QThread::create([] { stopCode = WaitForStopSignal(); });
    stopWatcher->setObjectName(QStringLiteral("stop-signal"));
    // Queued onto this thread, so a save under way finishes first: never a file cut short. The
    // worker's request ends at once, and the session's end joins its thread.
    QObject::connect(stopWatcher, &QThread::finished, &app, [&] {
        if (!finished) {
            session.cancel();
            fail(stopCode, QStringLiteral("cancelled; nothing was saved"));
        }
    });
    stopWatcher->start();

    std::fprintf(stderr, "lumora-download: waiting up to %d s for a reader\n", timeoutS);
    readerTimeout.start(timeoutS * 1000);
    AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
            onReaderDebugPrint, nullptr);
    return pointToLog(app.exec());
}
