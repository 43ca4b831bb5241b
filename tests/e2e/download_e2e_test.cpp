// lumora-download against lumora-reader-sim through the socket device, each a process of its
// own, with settings and key in a temporary folder; saved files are read back with
// lumora-decrypt.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "download_reference.h"
#include "expected_json.h"
#include "export_test_support.h"

namespace {

// The members "events", "factory_config" and "records" that a download of scenario must give.
QJsonObject expectedDocument(const ScenarioBytes& scenario) {
    return {{"events", ExpectedRecordsJson(scenario.schema, scenario.table7, false)},
            {"factory_config",
             ExpectedRecordsJson(scenario.configSchema, {scenario.calibration}, true)},
            {"records", ExpectedRecordsJson(scenario.schema, scenario.table6, false)}};
}

// Upper bound on any wait, so a fault fails the test instead of hanging it.
constexpr int kPatienceMs = 90000;

struct ProgramRun {
    int exitCode = -1;
    QStringList out;  // lines of standard output
    QString err;
};

// One temporary world: the socket folder, the settings naming the data folder and the public
// key, and at most one simulated reader.
class Rig {
public:
    Rig() {
        QDir root(dir.path());
        root.mkpath("sockets");
        root.mkpath("config/LumoraConnector");
        root.mkpath("data");
        setKeyFile(testKey(2048).publicPem());
    }
    ~Rig() {
        if (sim.state() != QProcess::NotRunning) {
            sim.terminate();
            sim.waitForFinished(kPatienceMs);
        }
    }
    void setKeyFile(const QString& keyFile) {
        setSettings("[General]\ndata_dir=" + path("data/") + "\npublic_key_file=" + keyFile + "\n");
    }
    void setSettings(const QString& text) {
        writeBytes(path("config/LumoraConnector/Configuration.ini"), text.toUtf8());
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    // Starts the simulator and waits until its socket is in place. Its log lines are few, one
    // per request, so the pipe never fills.
    bool plugReader(const QStringList& options) {
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(LUMORA_READER_SIM_PROGRAM, QStringList({"--dir", path("sockets")}) + options);
        QDeadlineTimer deadline(kPatienceMs);
        QByteArray log;
        while (!log.contains("plugged in")) {
            if (!sim.waitForReadyRead(int(deadline.remainingTime()))) {
                ADD_FAILURE() << "the simulator did not plug in: " << log.toStdString();
                return false;
            }
            log += sim.readAll();
        }
        return true;
    }

    // runAs: a command that runs lumora-download (its last argument) as another user, or none.
    ProgramRun download(const QStringList& arguments = {"--timeout", "60"},
                        const QStringList& runAs = {}) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LUMORA_HID_SOCKET_DIR", path("sockets"));
        environment.insert("XDG_CONFIG_DIRS", path("config"));
        environment.remove("LUMORA_DEBUG_LOG");
        program.setProcessEnvironment(environment);
        if (runAs.isEmpty()) {
            program.start(LUMORA_DOWNLOAD_PROGRAM, arguments);
        } else {
            program.start(runAs.first(),
                          runAs.mid(1) + QStringList(LUMORA_DOWNLOAD_PROGRAM) + arguments);
        }
        ProgramRun run;
        if (!program.waitForFinished(kPatienceMs)) {
            program.kill();
            program.waitForFinished();
            ADD_FAILURE() << "lumora-download did not end";
        }
        run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        run.out = QString::fromUtf8(program.readAllStandardOutput()).split('\n');
        if (run.out.last().isEmpty()) {
            run.out.removeLast();
        }
        run.err = QString::fromUtf8(program.readAllStandardError());
        return run;
    }

    // Every file below the data folder, temporary ones included.
    QStringList savedFiles() const {
        QStringList files;
        QDirIterator it(path("data"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            files.append(it.next());
        }
        return files;
    }

    QJsonObject decrypt(const QString& file) const {
        QProcess decrypt;
        decrypt.start(LUMORA_DECRYPT_PROGRAM, {"--key", testKey(2048).privatePem(), file});
        if (!decrypt.waitForFinished(kPatienceMs) || decrypt.exitCode() != 0) {
            ADD_FAILURE() << "lumora-decrypt failed: "
                          << decrypt.readAllStandardError().toStdString();
            return {};
        }
        return QJsonDocument::fromJson(decrypt.readAllStandardOutput()).object();
    }

    QTemporaryDir dir;
    QProcess sim;
};

TEST(DownloadE2eTest, SavesWhatTheReaderHoldsAndDecryptsBackToIt) {
    const struct {
        const char* name;
        QStringList options;
        ScenarioBytes scenario;
        const char* records;  // when set, the "records" member written out
        bool verbose;
    } cases[] = {
        {"default scenario", {}, scenarioBytes("default"), nullptr, false},
        {"worked example",
         {"--scenario", "worked-example"},
         scenarioBytes("worked-example"),
         R"([{"0":"7","100":"-1","8":"5","90":"ABC\r\n"}])",
         true},
        {"faulty link",
         {"--records", "60", "--events", "5", "--seed", "7", "--drop", "0.05", "--corrupt", "0.05",
          "--duplicate", "0.05"},
         scenarioBytes("default", 60, 5, 7),
         nullptr,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ASSERT_TRUE(rig.plugReader(c.options));
        const ProgramRun run = rig.download(QStringList({"--timeout", "60"}) +
                                            (c.verbose ? QStringList("--verbose") : QStringList()));
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);

        const QJsonObject expected = expectedDocument(c.scenario);
        const QString sensorId = expected["records"][0]["90"].toString().trimmed();
        // Standard output holds only the results; the reader's replies and other traces go to
        // standard error with --verbose only; each table ends its progress line with its count.
        ASSERT_EQ(run.out.size(), 3) << qPrintable(run.out.join('\n'));
        EXPECT_EQ(run.err.contains("CMD OK"), c.verbose) << qPrintable(run.err);
        EXPECT_EQ(run.err.contains("data path is"), c.verbose) << qPrintable(run.err);
        for (const char* table : {"table 6", "calibration", "table 7"}) {
            const QString member = table == QString("table 6")       ? "records"
                                   : table == QString("calibration") ? "factory_config"
                                                                     : "events";
            const int count = expected[member].toArray().size();
            EXPECT_TRUE(run.err.contains(QString("lumora-download: %1: %2 record%3\n")
                                             .arg(table)
                                             .arg(count)
                                             .arg(count == 1 ? "" : "s")))
                << qPrintable(run.err);
        }
        EXPECT_EQ(run.out[0],
                  "Reader serial number: " + QString::fromStdString(c.scenario.readerSerial));
        EXPECT_TRUE(run.out[1].startsWith("Reader clock: ")) << qPrintable(run.out[1]);
        const QString saved = run.out.last();
        EXPECT_TRUE(QRegularExpression(
                        "^" +
                        QRegularExpression::escape(rig.path("data/" + sensorId + "/" + sensorId)) +
                        R"(_\d{4}-\d\d-\d\dT\d{6}\.\d{3}Z_data\.json$)")
                        .match(saved)
                        .hasMatch())
            << qPrintable(saved);
        EXPECT_EQ(rig.savedFiles(), QStringList({saved}));
        EXPECT_TRUE(ownerOnly(saved));

        QJsonObject document = rig.decrypt(saved);
        EXPECT_EQ(document.take("hostDateTime").toObject().keys(),
                  QStringList({"isDaylightTime", "localDateTime", "timeZoneName",
                               "timeZoneShortName", "utcOffSetInSec"}));
        EXPECT_EQ(document, expected);
        if (c.records) {
            EXPECT_EQ(document["records"], QJsonDocument::fromJson(c.records).array());
        }
    }
}

TEST(DownloadE2eTest, EmptyTable6SavesNothingAndSaysTheSensorHasNoData) {
    Rig rig;
    ASSERT_TRUE(rig.plugReader({"--records", "0"}));
    const ProgramRun run = rig.download();
    EXPECT_EQ(run.exitCode, 3) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("No data to report from the Sensor.")) << qPrintable(run.err);
    EXPECT_EQ(rig.savedFiles(), QStringList());
}

// A download ended by the reader's removal used to be reported as a sensor without data.
TEST(DownloadE2eTest, ReaderUnpluggedMidDownloadSavesNothing) {
    Rig rig;
    ASSERT_TRUE(rig.plugReader({"--records", "2000", "--unplug-after-packets", "300"}));
    const ProgramRun run = rig.download();
    EXPECT_EQ(run.exitCode, 4) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("disconnected before the download finished"))
        << qPrintable(run.err);
    EXPECT_FALSE(run.err.contains("No data")) << qPrintable(run.err);
    EXPECT_EQ(rig.savedFiles(), QStringList());
}

// A reader that stayed plugged in but never answered kept lumora-download running for ever.
TEST(DownloadE2eTest, ReaderThatStopsAnsweringEndsWithExitFiveAndSavesNothing) {
    Rig rig;
    ASSERT_TRUE(rig.plugReader({"--never-answer", "52"}));
    const ProgramRun run = rig.download();
    EXPECT_EQ(run.exitCode, 5) << qPrintable(run.err);
    EXPECT_TRUE(run.err.endsWith(
        "lumora-download: the reader stopped answering; unplug it and plug it in again\n"))
        << qPrintable(run.err);
    EXPECT_EQ(run.out.size(), 2) << qPrintable(run.out.join('\n'));  // serial number and clock
    EXPECT_EQ(rig.savedFiles(), QStringList());
}

TEST(DownloadE2eTest, EndsWithoutReaderUsageErrorsAndUnusableSetUp) {
    const struct {
        const char* name;
        QStringList arguments;
        const char* settings;  // %1 the temporary folder, %2 the test key; else the usual
        int exitCode;
        const char* err;  // standard error's last line, in part
    } cases[] = {
        {"no reader", {"--timeout", "1"}, nullptr, 4, "no reader connected within 1 s"},
        {"zero time-out", {"--timeout", "0"}, nullptr, 2, "--timeout takes whole seconds"},
        {"time-out not a number", {"--timeout", "soon"}, nullptr, 2, "--timeout takes"},
        {"unknown option", {"--fast"}, nullptr, 2, "Unknown option 'fast'"},
        {"argument", {"now"}, nullptr, 2, "unexpected argument now"},
        // Set-up problems: one line, before any wait for a reader.
        {"missing key",
         {"--timeout", "1"},
         "data_dir=%1/data/\npublic_key_file=%1/none.pem",
         1,
         "none.pem cannot be used: No such file or directory. Set public_key_file in"},
        {"keys under another section",
         {"--timeout", "1"},
         "[Settings]\ndata_dir=%1/data/",
         1,
         "holds neither data_dir nor public_key_file under [General]"},
        {"missing data folder",
         {"--timeout", "1"},
         "data_dir=%1/gone/\npublic_key_file=%2",
         1,
         "gone does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.settings) {
            rig.setSettings(QString(c.settings)
                                .replace("%1", rig.dir.path())
                                .replace("%2", testKey(2048).publicPem()));
        }
        const ProgramRun run = rig.download(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(c.err)) << qPrintable(run.err);
        if (c.exitCode == 1) {
            EXPECT_EQ(run.err.count('\n'), 1) << qPrintable(run.err);
        }
        EXPECT_EQ(run.out, QStringList());
        EXPECT_EQ(rig.savedFiles(), QStringList());
    }

    Rig rig;
    const ProgramRun help = rig.download({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.value(0).startsWith("Usage: lumora-download"))
        << qPrintable(help.out.join('\n'));
}

// A reader this user may not open used to end as "no reader connected" after the whole wait.
TEST(DownloadE2eTest, AReaderThisUserMayNotOpenIsNamedWithItsFix) {
    if (geteuid() != 0 || !QFileInfo::exists("/usr/bin/setpriv")) {
        GTEST_SKIP() << "needs root, to run lumora-download as a user without access";
    }
    Rig rig;
    ASSERT_TRUE(rig.plugReader({}));
    // Everything readable by others, the data folder writable; the socket, like a hidraw node
    // without the udev rule, only for its owner to open.
    const QString key = rig.path("public.pem");
    ASSERT_TRUE(QFile::copy(testKey(2048).publicPem(), key));
    rig.setKeyFile(key);
    for (const QString& name : {QString(), QString("sockets"), QString("config"),
                                QString("config/LumoraConnector"), QString("data")}) {
        ASSERT_EQ(chmod(qPrintable(rig.path(name)), name == "data" ? 0777 : 0755), 0);
    }
    ASSERT_EQ(chmod(qPrintable(key), 0644), 0);
    ASSERT_EQ(chmod(qPrintable(rig.path("config/LumoraConnector/Configuration.ini")), 0644), 0);
    const QStringList sockets = QDir(rig.path("sockets")).entryList(QDir::System);
    ASSERT_EQ(sockets.size(), 1);
    const QString socket = rig.path("sockets/" + sockets.first());
    ASSERT_EQ(chmod(qPrintable(socket), 0755), 0);

    const ProgramRun run = rig.download(
        {"--timeout", "60"},
        {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    EXPECT_EQ(run.exitCode, 4) << qPrintable(run.err);
    EXPECT_TRUE(run.err.endsWith("lumora-download: a reader is plugged in at " + socket +
                                 " but this user may not open it: install the udev rule (see "
                                 "README) and plug it in again\n"))
        << qPrintable(run.err);
    EXPECT_EQ(run.out, QStringList());
    EXPECT_EQ(rig.savedFiles(), QStringList());
}

}  // namespace
