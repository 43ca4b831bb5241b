// Settings, sensor folders, the user's messages and saving a download.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <functional>

#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTimeZone>

#include "export/download_save.h"
#include "export/file_util.h"
#include "export/settings_path.h"
#include "export_test_support.h"
#include "tests/support/test_platform.h"

namespace {

// A FileUtil whose system settings folder is a temporary one, named through XDG_CONFIG_DIRS as
// at start-up; it records what FileUtil tells the user.
struct FileUtilTest : ::testing::Test {
    FileUtilTest() {
        setEntries({dir.path(), "/etc/xdg"});
        applySettingsPathFromEnvironment();
        QObject::connect(&files, &FileUtil::raiseErrorMessage,
                         [this](const QString& message) { messages.append(message); });
    }
    static void setEntries(const QStringList& entries) {
        TestSetEnv("XDG_CONFIG_DIRS", qPrintable(entries.join(QDir::listSeparator())));
    }
    // The system's reason for a file that is not there, as the messages quote it.
    QString missingFile() const {
        QFile file(tmp("none"));
        file.open(QIODevice::ReadOnly);
        return file.errorString().remove(QRegularExpression("\\.$"));
    }
    QString tmp(const QString& name) const {
        return name.isEmpty() ? dir.path() : dir.filePath(name);
    }
    void writeSettings(const QByteArray& lines) {
        QDir(dir.path()).mkdir("LumoraConnector");
        writeBytes(tmp("LumoraConnector/Configuration.ini"), lines);
    }
    // Both below the temporary folder; the 2048-bit test key unless keyFile is named.
    void configure(const QString& dataDir, const QString& keyFile = {}) {
        const QString key = keyFile.isEmpty() ? testKey(2048).publicPem() : tmp(keyFile);
        writeSettings(("data_dir=" + tmp(dataDir) + "\npublic_key_file=" + key).toUtf8());
    }
    QStringList entries(const QString& folder) const {
        return QDir(tmp(folder)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    }

    QTemporaryDir dir;
    FileUtil files;
    QStringList messages;
};

TEST_F(FileUtilTest, DefaultsXdgFolderAndSensorFolderRules) {
    const QString separator = QDir::separator();
    EXPECT_EQ(files.baseSubjectDataDir(), QDir::currentPath() + separator + "data" + separator);
    EXPECT_EQ(files.getPublicKeyFile(), QDir::currentPath() + separator + "publickey.pem");

    const struct {
        QString settings;
        const char* sensorDir;
    } cases[] = {
        {"data_dir=" + tmp("out"), "outS1"},            // no separator inserted: a sibling
        {"data_dir=" + tmp("a,b/"), "a,b/S1"},          // unquoted, QSettings makes it a list
        {"data_dir=\"" + tmp("a;b/") + '"', "a;b/S1"},  // quoted, no comment
        // Notepad's byte-order mark, before a key or a section.
        {"\1data_dir=" + tmp("a,b/"), "a,b/S1"},
        {"\1[General]\ndata_dir=" + tmp("out"), "outS1"},
    };
    QDir(tmp({})).mkdir("a,b");
    QDir(tmp({})).mkdir("a;b");
    for (const auto& c : cases) {
        writeSettings(c.settings.toUtf8().replace('\1', "\xEF\xBB\xBF"));
        EXPECT_EQ(files.ensureSensorDir("S1"), tmp(c.sensorDir));
    }
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));

    TestUnsetEnv("XDG_CONFIG_DIRS");
    EXPECT_EQ(applySettingsPathFromEnvironment(), "");
    // Desktops put their own entry first: the first entry holding the file wins.
    setEntries({"/nonexistent", tmp({}), "/etc/xdg"});
    EXPECT_EQ(applySettingsPathFromEnvironment(), tmp({}));
    setEntries({"", "relative", "/b/", "/c"});  // none holds the file: the first absolute
    EXPECT_EQ(applySettingsPathFromEnvironment(), "/b/");
    EXPECT_EQ(
        QSettings(QSettings::IniFormat, QSettings::SystemScope, "LumoraConnector", "Configuration")
            .fileName(),
        QFileInfo("/b/LumoraConnector/Configuration.ini").absoluteFilePath());
}

TEST_F(FileUtilTest, EachUserMessage) {
    const struct {
        const char* message;  // %1 is the temporary folder, %2 the reason a file is missing
        std::function<void(FileUtil&, const FileUtilTest&)> action;
        const char* dataDir = "";
        const char* keyFile = "";
    } cases[] = {
        {"Could not create the data path %1/missing/data",  // reported, then saved all the same
         [](FileUtil& f, auto& t) { EXPECT_TRUE(f.write(t.tmp("x"), kDocument)); },
         "missing/data/"},
        {"Could not load the public key %1/none.pem: %2. The sensor file was not saved.",
         [](FileUtil& f, auto& t) { EXPECT_FALSE(f.write(t.tmp("y"), "{}")); }, "", "none.pem"},
        {"Refused the sensor id \"../\\u0001\": it contains a path separator. Nothing was saved.",
         [](FileUtil& f, auto&) { EXPECT_EQ(f.combineSensorDirAndFilename("../\x01", "f"), ""); }},
        {"Refused the sensor id \"CON.txt\": it names a device on Windows. Nothing was saved.",
         [](FileUtil& f, auto&) {
             EXPECT_EQ(f.combineSensorDirAndFilename("CON.txt", "CON.txt_1_data.json"), "");
         }},
        {"Refused the file name \"a:b\": it contains :, which file names may not hold. Nothing was "
         "saved.",
         [](FileUtil& f, auto&) { EXPECT_EQ(f.combineSensorDirAndFilename("S1", "a:b"), ""); }},
        {"Could not save the sensor file: it has no name.",
         [](FileUtil& f, auto&) { EXPECT_FALSE(f.write("", "{}")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        configure(c.dataDir, c.keyFile);
        messages.clear();
        c.action(files, *this);
        EXPECT_EQ(messages, QStringList(QString(c.message).arg(tmp({}), missingFile())));
    }
    EXPECT_EQ(entries({}), QStringList({"LumoraConnector", "x"}));  // y never written
}

TEST_F(FileUtilTest, RefusesSensorIdsThatAreNotPlainNames) {
    configure("data/");
    QDir(tmp({})).mkdir("data");
    // Windows would take the last ones for devices, drop their final dot, or hide them.
    const char* const refused[] = {"",         "  ",          ".",         "..",          "../S1",
                                   "S1/..",    "a\\b",        "C:",        "S1\r\n",      "S\x7f",
                                   " S1",      "\u202eS1",    "S*",        "CON",         "nul",
                                   "Com1.txt", "LPT9.x.y",    "aux ",      "S1.",         "...",
                                   "CONIN$",   "conout$.txt", "COM\u00b9", "lpt\u00b3.x", "COM0"};
    for (const char* id : refused) {
        EXPECT_EQ(files.ensureSensorDir(id), "") << id;
    }
    EXPECT_EQ(files.ensureSensorDir(QChar(0xFEFF) + QString("S1")), "");  // not white space to Qt
    // Its file name, the longest part of the saved path, stays within 255 bytes.
    const QString longest(FileUtil::kMaxSensorIdBytes / 2, QChar(0xe9));
    EXPECT_EQ(files.ensureSensorDir(longest + "e"), "");
    EXPECT_EQ(messages.filter(QRegularExpression("^Refused the sensor id \"")).size(),
              int(std::size(refused)) + 2);
    EXPECT_EQ(entries("data"), QStringList());
    for (const QString id : {"S1", "0M0000ABC12", "Sensor-1.x_2", "\u00dcnic\u00f6de", "CON1",
                             "COM10", "..S1", "COM\u2074"}) {
        EXPECT_EQ(files.ensureSensorDir(id), tmp(QStringLiteral("data/") + id));
    }
    QString path;
    EXPECT_NE(path = files.combineSensorDirAndFilename(
                  longest, downloadFileName(longest, QDateTime::currentDateTime())),
              "");
    writeBytes(path + ".XXXXXX", "");  // the temporary file's name
}

// A settings file that could not be used was silently replaced by the defaults, and files went
// to the wrong place under the wrong key; a UTF-8 file was read as Latin-1.
TEST_F(FileUtilTest, SetupProblemsAreSaidWithTheirFixAndUtf8IsRead) {
    QDir(tmp({})).mkpath("data");
#ifdef _WIN32
    QDir(tmp({})).mkdir("fifo");  // no FIFOs there; a folder is no regular file either
#else
    ASSERT_EQ(mkfifo(qPrintable(tmp("fifo")), 0600), 0);
#endif
    writeBytes(tmp("big"), QByteArray(1024 * 1024 + 1, '-'));
    const QString ini = tmp("LumoraConnector/Configuration.ini");
    const QByteArray key = "\npublic_key_file=" + testKey(2048).publicPem().toUtf8();
    const struct {
        QByteArray settings;  // null: a folder in the file's place, which cannot be read
        const char* problem;  // %1 the settings file, %2 the temporary folder, %3 the read
                              // error, %4 the reason a file is missing
    } cases[] = {
        {QByteArray(),
         "The settings file %1 cannot be read (%3). Let this user read it, or remove "
         "it to use the defaults."},
        {"[General\ndata_dir=x" + key,
         "The settings file %1 is not a valid INI file. Correct it, "
         "or remove it to use the defaults."},
        {"[Settings]\ndata_dir=/srv/" + key,
         "The settings file %1 holds neither data_dir nor public_key_file under [General]. Put "
         "them under [General], or remove the file to use the defaults."},
        {"data_dir=" + tmp("data/").toUtf8() + "\npublic_key_file=" + tmp("none.pem").toUtf8(),
         "The public key %2/none.pem cannot be used: %4. Set public_key_file in %1 to the "
         "recipient's PEM public key."},
        // A FIFO used to hang the check, /dev/zero to read 2 GB.
        {"data_dir=" + tmp("data/").toUtf8() + "\npublic_key_file=" + tmp("fifo").toUtf8(),
         "The public key %2/fifo cannot be used: it is not a regular file. Set public_key_file in "
         "%1 to the recipient's PEM public key."},
        {"data_dir=" + tmp("data/").toUtf8() + "\npublic_key_file=" + tmp("big").toUtf8(),
         "The public key %2/big cannot be used: it is larger than 1 MiB. Set public_key_file in "
         "%1 to the recipient's PEM public key."},
        // Qt would cut the value at the comment, or drop the quotes or the escape.
        {"data_dir=/srv/x;y/" + key,
         "The settings file %1 is read wrongly at data_dir: this file format takes ';' for the "
         "start of a comment and '\"' for a quote. Put the whole value in double quotes."},
        {"data_dir=\"/srv/x\"" + QByteArray(key).replace("=", "=/x/\"k\""),
         "The settings file %1 is read wrongly at public_key_file: this file format takes ';' for "
         "the start of a comment and '\"' for a quote. Put the whole value in double quotes."},
        {"data_dir=C:\\data\\x" + key,
         "The settings file %1 is read wrongly at data_dir: this file format takes '\\' for the "
         "start of an escape. Write paths with '/'."},
        // The sensor id is appended to the text: the sensor folders go in data/, as data/pre-S1.
        {"data_dir=" + tmp("data/pre-").toUtf8() + key, ""},
        {"data_dir=" + tmp("donn\u00e9es/pre-").toUtf8() + key,
         "The data folder %2/donn\u00e9es does not exist. Create it, or set data_dir in %1 to a "
         "folder that exists."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        QDir(tmp("LumoraConnector")).removeRecursively();
        if (c.settings.isNull()) {
            QDir(tmp({})).mkpath("LumoraConnector/Configuration.ini");
        } else {
            writeSettings(c.settings);
        }
        QFile probe(ini);
        const QString readError = probe.open(QIODevice::ReadOnly) ? "" : probe.errorString();
        const QString problem = QString(c.problem)
                                    .replace("%1", ini)
                                    .replace("%2", tmp({}))
                                    .replace("%3", readError)
                                    .replace("%4", missingFile());
        EXPECT_EQ(files.setupProblem(), problem);
        // Settings that cannot be trusted save nothing anywhere.
        if (!c.settings.startsWith("data_dir")) {
            EXPECT_FALSE(files.write(tmp("data/x"), kDocument));
            EXPECT_EQ(entries("data"), QStringList());
        }
    }
}

// With the data folder missing, the first save makes it but fails, and the next one succeeds.
TEST_F(FileUtilTest, ASaveGoesToTheSensorFolderUnderItsTimeAndReplacesOnlyWhole) {
    configure("data/");
    // Named by the UTC time, colons left out.
    const QDateTime now(QDate(2026, 12, 5), QTime(9, 15, 30, 123), QTimeZone("Europe/Paris"));
    const QString name = "S1_2026-12-05T081530.123Z_data.json";
    const QString path = tmp("data/S1") + QDir::separator() + name;
    QSaveFile inMissingFolder(tmp("none/x"));  // the system's reason for the failed save
    inMissingFolder.open(QIODevice::WriteOnly);
    EXPECT_EQ(saveDownload(files, kDocument, "S1", now), "");
    EXPECT_EQ(messages, QStringList({"Could not create the sensor path " + tmp("data/S1"),
                                     "Could not save the sensor file. Check the permissions on "
                                     "the directory for " +
                                         tmp("data/S1") + ": " + inMissingFolder.errorString()}));
    EXPECT_EQ(entries("data"), QStringList());
#ifndef _WIN32
    // A full disk: the system's reason, no short file, no sensor folder left behind.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit before = limit;
    limit.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &limit);
    messages.clear();
    EXPECT_EQ(saveDownload(files, kDocument, "S2", now), "");
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(messages, QStringList("Could not save the sensor file " + tmp("data/S2/") +
                                    "S2_2026-12-05T081530.123Z_data.json: File too large"));
#endif
    // Something in the sensor folder's place is said before anything is encrypted.
    writeBytes(tmp("data/S3"), "");
    messages.clear();
    EXPECT_EQ(saveDownload(files, kDocument, "S3", now), "");
    const QString s3 = "This user may not write to the sensor folder " + tmp("data/S3") +
                       ". Change its permissions, or set data_dir in " + FileUtil::settingsFile() +
                       " to a folder this user may write to.";
    EXPECT_EQ(messages, QStringList(s3));
    EXPECT_EQ(files.setupProblem("S3"), s3);
    EXPECT_EQ(entries("data"), QStringList("S3"));
    QFile::remove(tmp("data/S3"));

    messages.clear();
    EXPECT_EQ(saveDownload(files, kDocument, "S1", now), path);
    EXPECT_EQ(saveDownload(files, kDocument, "S1", now), path);
    EXPECT_TRUE(messages.isEmpty());

    const QByteArray saved = readBytes(path);
    configure("data/", "none.pem");  // a failed save leaves the earlier file as it was
    EXPECT_EQ(saveDownload(files, "{}", "S1", now), "");
    EXPECT_EQ(readBytes(path), saved);
    EXPECT_EQ(entries("data/S1"), QStringList(name));
}

}  // namespace
