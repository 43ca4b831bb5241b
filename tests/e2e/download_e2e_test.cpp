// lumora-download against lumora-reader-sim, as processes; files read back with lumora-decrypt.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "export_test_support.h"

namespace {

// Upper bound on any wait, so a fault fails the test instead of hanging it.
constexpr int kPatienceMs = 90000;

// A record's field values in the scenario file, and the document's members for them: decimal
// numbers (signed by field type), text and CR LF, bytes as " %02x" each and CR LF.
struct Record {
    QJsonObject fields;
    QJsonObject members;

    Record& set(int id, const QJsonValue& field, const QString& member) {
        fields[QString::number(id)] = field;
        members[QString::number(id)] = member;
        return *this;
    }
    Record& number(int id, qint64 value) { return set(id, double(value), QString::number(value)); }
    Record& text(int id, const QString& value) { return set(id, value, value + "\r\n"); }
    Record& bytes(int id, const QByteArray& value) {
        QString hex;
        for (const char byte : value) {
            hex += QString::asprintf(" %02x", uint8_t(byte));
        }
        return set(id, QString(value.toHex()), hex + "\r\n");
    }
};

// Header: record number (32 bits) and record type; a reading (type 16) has a field of every
// kind, signed ones at their extremes; an event (type 17); a calibration record.
const char kSchemas[] = R"({
  "serial": "RS00004711",
  "clock": {"year": 2021, "month": 3, "day": 5, "hour": 7, "minute": 8, "second": 9, "extra": 0},
  "schema": [
    {"recordType": 255, "headerWords": 4, "fields": [
      {"id": 0, "word": 0, "type": 0, "width": 32}, {"id": 8, "word": 2, "type": 0, "width": 16}]},
    {"recordType": 16, "fields": [
      {"id": 90, "word": 0, "type": 3, "width": 96},
      {"id": 100, "word": 6, "type": 0, "width": 16},
      {"id": 101, "word": 6, "shift": 16, "type": 1, "width": 12},
      {"id": 102, "word": 6, "shift": 28, "type": 2, "width": 4},
      {"id": 103, "word": 8, "type": 10, "width": 24},
      {"id": 104, "word": 8, "shift": 24, "type": 11, "width": 8},
      {"id": 105, "word": 10, "shift": 3, "type": 2, "width": 13},
      {"id": 106, "word": 12, "type": 4, "width": 64}]},
    {"recordType": 17, "fields": [
      {"id": 110, "word": 0, "type": 0, "width": 16}, {"id": 112, "word": 1, "type": 2, "width": 16}]}
  ],
  "configSchema": [{"recordType": 1, "fields": [
    {"id": 200, "word": 0, "type": 0, "width": 16}, {"id": 201, "word": 1, "type": 2, "width": 16},
    {"id": 203, "word": 2, "type": 3, "width": 80}]}]
})";
constexpr int kReadings = 150;
constexpr int kEvents = 6;

// The scenario file, and the "events", "factory_config" and "records" its download must give.
struct Scenario {
    QByteArray file;
    QJsonObject document;
};

Scenario makeScenario() {
    QJsonObject file = QJsonDocument::fromJson(kSchemas).object();
    QJsonArray readings, readingMembers, events, eventMembers;
    for (int i = 0; i < kReadings; ++i) {
        Record r;
        r.number(0, 3000000000LL + i).text(90, "0M7Q3ABCDE").number(100, 40 + 3 * i);
        r.number(101, (i * 37) % 4096).number(102, i % 16 - 8).number(103, i * 15);
        r.number(104, i % 256).number(105, (i * 61) % 8192 - 4096);
        r.bytes(106, QByteArray::fromHex("00ff7f80") + QByteArray::number(1000 + i));
        readings.append(QJsonObject{{"recordType", 16}, {"fields", r.fields}});
        r.members["8"] = "16";
        readingMembers.append(r.members);
    }
    for (int i = 0; i < kEvents; ++i) {
        Record r;
        r.number(0, i + 1).number(110, 1 + i).number(112, i % 2 ? -32769 + i : 32767 - i);
        events.append(QJsonObject{{"recordType", 17}, {"fields", r.fields}});
        r.members["8"] = "17";
        eventMembers.append(r.members);
    }
    Record calibration;
    calibration.number(200, 1000).number(201, -25).text(203, "LOT123");
    file["tables"] = QJsonObject{{"6", readings}, {"7", events}};
    file["config"] =
        QJsonObject{{"1", QJsonObject{{"recordType", 1}, {"fields", calibration.fields}}}};
    return {QJsonDocument(file).toJson(),
            {{"events", eventMembers},
             {"factory_config", QJsonArray{calibration.members}},
             {"records", readingMembers}}};
}

// UTF-8 text whose lines end as the platform ends them; a stray carriage return stays, to be seen.
QStringList lines(const QByteArray& text) {
    return QString::fromUtf8(text).split(QDir::separator() == '\\' ? "\r\n" : "\n");
}

// Outside ASCII, as many a clinic's folder names are, in the settings, file calls and output.
const QString kData = QStringLiteral("donn\u00e9es");

struct ProgramRun {
    int exitCode = -1;
    QStringList out;  // lines of standard output
    QString err;
};

// A temporary world: socket folder, settings, data folder, key and at most one simulated reader.
class Rig {
public:
    Rig() {
        for (const QString& folder :
             {QString("sockets"), QString("config/LumoraConnector"), kData}) {
            QDir(dir.path()).mkpath(folder);
        }
        setKeyFile(testKey(2048).publicPem());
    }
    void setKeyFile(const QString& keyFile) {
        writeBytes(path("config/LumoraConnector/Configuration.ini"),
                   ("[General]\ndata_dir=" + path(dataDir) + "\npublic_key_file=" + keyFile + "\n")
                       .toUtf8());
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString logFile() const {
        return QDir::toNativeSeparators(path(QDir::separator() == '\\'
                                                 ? "state/LumoraConnector/logs/lumora-connector.log"
                                                 : "state/lumora-connector/lumora-connector.log"));
    }

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
    ProgramRun download(const QStringList& arguments, const QStringList& runAs = {}) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LUMORA_HID_SOCKET_DIR", path("sockets"));
        environment.insert("XDG_CONFIG_DIRS", path("config"));
        environment.insert("LC_ALL", "C");  // month names
        environment.insert("XDG_STATE_HOME", path("state"));
        environment.insert("LOCALAPPDATA", QDir::toNativeSeparators(path("state")));
        debugLog.isEmpty() ? environment.remove("LUMORA_DEBUG_LOG")
                           : environment.insert("LUMORA_DEBUG_LOG", debugLog);
        program.setProcessEnvironment(environment);
        QStringList command = runAs + QStringList(LUMORA_DOWNLOAD_PROGRAM) + arguments;
        program.start(command.takeFirst(), command);
#ifndef _WIN32
        QByteArray log;  // the simulator's, until it is asked for table 6: mid-download
        while (stopSignal && !log.contains("id 6") && sim.waitForReadyRead(kPatienceMs)) {
            log += sim.readAll();
        }
        if (stopSignal) {
            kill(pid_t(program.processId()), stopSignal);
        }
#endif
        ProgramRun run;
        if (!program.waitForFinished(kPatienceMs)) {
            program.kill();
            program.waitForFinished();
            ADD_FAILURE() << "lumora-download did not end";
        }
        run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        run.out = lines(program.readAllStandardOutput());
        if (run.out.last().isEmpty()) {
            run.out.removeLast();
        }
        run.err = lines(program.readAllStandardError()).join('\n');
        return run;
    }

    // Every file below the data folder, temporary ones included.
    QStringList savedFiles() const {
        QStringList files;
        QDirIterator it(path(kData), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            files.append(it.next());
        }
        return files;
    }

    QTemporaryDir dir;
    QString dataDir = kData + "/";
    QString debugLog;
    int stopSignal = 0;  // sent to lumora-download during the download; none: 0
    QProcess sim;        // killed, if still running, as the rig goes
};

TEST(DownloadE2eTest, SavesWhatTheReaderHoldsAndDecryptsBackToIt) {
    const Scenario scenario = makeScenario();
    const struct {
        const char* name;
        QStringList link;
        bool verbose;
    } cases[] = {
        {"clean link", {}, true},
        // A debug log that cannot be written is said once and does without; a serial number
        // with a line feed and a terminal escape prints on one line, escaped; a data_dir that
        // is a prefix of the sensor folders' names gets a note.
        {"faulty link", {"--drop", "0.05", "--corrupt", "0.05", "--duplicate", "0.05"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        writeBytes(rig.path("scenario.json"),
                   QByteArray(scenario.file)
                       .replace("RS00004711", c.verbose ? "RS00004711" : "RS\\n\\u001b[2J"));
        ASSERT_TRUE(
            rig.plugReader(QStringList({"--scenario", rig.path("scenario.json")}) + c.link));
        rig.debugLog = c.verbose ? "" : rig.path("gone/debug.log");
        rig.dataDir = kData + (c.verbose ? "/" : "/lumora-");
        rig.setKeyFile(testKey(2048).publicPem());
        const ProgramRun run = rig.download(c.verbose ? QStringList("--verbose") : QStringList());
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_EQ(
            run.err.startsWith("lumora-download: cannot write the log " + rig.debugLog + " ("),
            !c.verbose)
            << qPrintable(run.err);
        EXPECT_EQ(run.err.count("); going on without it\n"), c.verbose ? 0 : 1);  // the OS's reason
        // The log for support, kept beside --verbose, holds the run but no record's values.
        const QString log = QString::fromUtf8(readBytes(rig.logFile()));
        EXPECT_EQ(log.contains(" lumora-download: lumora-download "), c.verbose);
        EXPECT_EQ(log.contains("CMD OK"), c.verbose);
        for (const char* value : {"LOT123", "3000000", "00ff7f", "00 ff 7f", "32767", "-32768"}) {
            EXPECT_FALSE(log.contains(value)) << value;
        }
        EXPECT_EQ(
            run.err.count("note: data_dir " + rig.path(kData + "/lumora-") +
                          " does not end in a separator, so the sensor folders will be " +
                          rig.path(kData + "/lumora-") + "<sensor id>, in " + rig.path(kData)),
            c.verbose ? 0 : 1)
            << qPrintable(run.err);

        // Standard output holds only the results; the reader's replies and other traces go to
        // standard error with --verbose only; each table ends its progress line with its count.
        ASSERT_EQ(run.out.size(), 3) << qPrintable(run.out.join('\n'));
        EXPECT_EQ(run.out[0], c.verbose ? "Reader serial number: RS00004711"
                                        : "Reader serial number: RS\\n\\x1b[2J");
        EXPECT_EQ(run.out[1], "Reader clock: 05 Mar 2021 07:08:09");
        EXPECT_EQ(run.err.contains("CMD OK"), c.verbose) << qPrintable(run.err);
        for (const char* count :
             {"table 6: 150 records\n", "calibration: 1 record\n", "table 7: 6 records\n"}) {
            EXPECT_TRUE(run.err.contains(QString("lumora-download: ") + count))
                << qPrintable(run.err);
        }
        // In the folder of the sensor that member 90 names, written as the platform writes paths;
        // the rest of the name and the file's permissions are the save's own tests'.
        const QString saved = run.out[2];
        EXPECT_TRUE(saved.startsWith(
            QDir::toNativeSeparators(rig.path(rig.dataDir + "0M7Q3ABCDE/0M7Q3ABCDE_"))))
            << qPrintable(saved);
        EXPECT_EQ(rig.savedFiles(), QStringList({QDir::fromNativeSeparators(saved)}));

        QProcess decrypt;
        decrypt.start(LUMORA_DECRYPT_PROGRAM, {"--key", testKey(2048).privatePem(), saved});
        ASSERT_TRUE(decrypt.waitForFinished(kPatienceMs));
        ASSERT_EQ(decrypt.exitCode(), 0) << decrypt.readAllStandardError().toStdString();
        QJsonObject document = QJsonDocument::fromJson(decrypt.readAllStandardOutput()).object();
        EXPECT_EQ(document.take("hostDateTime").toObject().keys(),
                  QStringList({"isDaylightTime", "localDateTime", "timeZoneName",
                               "timeZoneShortName", "utcOffSetInSec"}));
        EXPECT_EQ(document, scenario.document);
    }
}

TEST(DownloadE2eTest, EndsWithoutSavingAndSaysWhy) {
    const struct {
        const char* name;
        QStringList reader;  // the simulator's options; none: no reader
        int exitCode;
        const char* err;  // in standard error
        QStringList arguments = {};
        int stopSignal = 0;
    } cases[] = {
        {"empty table 6", {"--records", "0"}, 3, "No data to report from the Sensor."},
        {"reader's clock behind",
         {"--records", "0", "--clock-offset", "-11520"},
         3,
         "lumora-download: The reader's clock is 3 h 12 min behind this computer's.\n"},
        // Used to be reported as a sensor without data.
        {"reader unplugged mid-download",
         {"--records", "2000", "--unplug-after-packets", "300"},
         4,
         "disconnected before the download finished"},
        // Used to keep lumora-download running for ever; takes the client's whole patience.
        {"reader stops answering", {"--never-answer", "52"}, 5, "the reader stopped answering"},
#ifndef _WIN32
        // Used to end lumora-download at once, without a word.
        {"SIGINT", {"--records", "50000"}, 130, "cancelled; nothing was saved", {}, SIGINT},
        {"SIGTERM", {"--records", "50000"}, 143, "cancelled; nothing was saved", {}, SIGTERM},
#endif
        {"no reader", {}, 4, "no reader connected within 1 s", {"--timeout", "1"}},
        {"zero time-out", {}, 2, "--timeout takes whole seconds", {"--timeout", "0"}},
        {"time-out not a number", {}, 2, "--timeout takes", {"--timeout", "soon"}},
        {"unknown option", {}, 2, "Unknown option 'fast'", {"--fast"}},
        {"argument", {}, 2, "unexpected argument now", {"now"}},
        // A set-up problem (the settings' own tests say which): one line, before any wait.
        {"data folder gone", {}, 1, "donn\u00e9es does not exist", {"--timeout", "1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.exitCode == 1) {
            QDir(rig.path(kData)).removeRecursively();
        }
        if (!c.reader.isEmpty()) {
            ASSERT_TRUE(rig.plugReader(c.reader));
        }
        rig.stopSignal = c.stopSignal;
        const ProgramRun run = rig.download(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(c.err)) << qPrintable(run.err);
        if (c.exitCode == 1) {
            EXPECT_EQ(run.err.count('\n'), 2) << qPrintable(run.err);  // and where the log is
        }
        EXPECT_EQ(
            run.err.endsWith("lumora-download: details are in the log " + rig.logFile() + "\n"),
            c.exitCode != 2 && !c.stopSignal)  // a cancel is one line
            << qPrintable(run.err);
        // The serial number and clock, when a reader answered them.
        EXPECT_EQ(run.out.size(), c.reader.isEmpty() ? 0 : 2) << qPrintable(run.out.join('\n'));
        EXPECT_EQ(rig.savedFiles(), QStringList());
        EXPECT_TRUE(QDir(rig.path(kData)).isEmpty());  // no sensor folder either
    }

    Rig rig;
    const ProgramRun help = rig.download({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.value(0).startsWith("Usage: lumora-download"))
        << qPrintable(help.out.join('\n'));
}

#ifndef _WIN32
// A reader this user may not open used to end as "no reader connected" after the whole wait.
TEST(DownloadE2eTest, AReaderThisUserMayNotOpenIsNamedWithItsFix) {
    if (geteuid() != 0 || !QFileInfo::exists("/usr/bin/setpriv")) {
        GTEST_SKIP() << "needs root, to run lumora-download as a user without access";
    }
    Rig rig;
    ASSERT_TRUE(rig.plugReader({}));
    // Everything open to others but the socket, which, like a hidraw node without the udev rule,
    // only its owner may open.
    const QString key = rig.path("public.pem");
    ASSERT_TRUE(QFile::copy(testKey(2048).publicPem(), key));
    rig.setKeyFile(key);
    ASSERT_EQ(QProcess::execute("chmod", {"-R", "a+rwX", rig.path("")}), 0);
    const QStringList sockets = QDir(rig.path("sockets")).entryList(QDir::System);
    ASSERT_EQ(sockets.size(), 1);
    const QString socket = rig.path("sockets/" + sockets.first());
    ASSERT_EQ(chmod(qPrintable(socket), 0755), 0);

    const ProgramRun run = rig.download(
        {}, {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
    EXPECT_EQ(run.exitCode, 4) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("lumora-download: a reader is plugged in at " + socket +
                                 " but this user may not open it: install the udev rule (see "
                                 "README) and plug it in again\n"))
        << qPrintable(run.err);
    EXPECT_EQ(run.out, QStringList());
    EXPECT_EQ(rig.savedFiles(), QStringList());
}
#endif

}  // namespace
