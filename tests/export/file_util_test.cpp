// Settings, sensor folders, the user's messages and saving, with the settings file in a
// temporary folder named by XDG_CONFIG_DIRS.
#include <gtest/gtest.h>

#include <functional>

#include <QDir>
#include <QJsonDocument>
#include <QSettings>

#include "export/decrypter.h"
#include "export/file_util.h"
#include "export/settings_path.h"
#include "export_test_support.h"

namespace {

// What a save writes: the four members around records.
QString savedShape(const QString& records) {
    return R"({"events":[],"factory_config":[],"hostDateTime":{},"records":)" + records + "}";
}
const QString kDocument = savedShape(R"([{"10":"5","90":"S1\r\n"}])");

// A FileUtil whose system settings folder is a temporary one, named through XDG_CONFIG_DIRS as
// at start-up; it records what FileUtil tells the user.
struct FileUtilTest : ::testing::Test {
    FileUtilTest() {
        setenv("XDG_CONFIG_DIRS", qPrintable(dir.path() + ":/etc/xdg"), 1);
        applySettingsPathFromEnvironment();
        QObject::connect(&files, &FileUtil::raiseErrorMessage,
                         [this](const QString& message) { messages.append(message); });
    }
    QString tmp(const QString& name) const {
        return name.isEmpty() ? dir.path() : dir.filePath(name);
    }
    void writeSettings(const QString& lines) {
        QDir(dir.path()).mkdir("LumoraConnector");
        writeBytes(tmp("LumoraConnector/Configuration.ini"), lines.toUtf8());
    }
    // Both below the temporary folder; the 2048-bit test key unless keyFile is named.
    void configure(const QString& dataDir, const QString& keyFile = {}) {
        const QString key = keyFile.isEmpty() ? testKey(2048).publicPem() : tmp(keyFile);
        writeSettings("data_dir=" + tmp(dataDir) + "\npublic_key_file=" + key);
    }
    QStringList entries(const QString& folder) const {
        return QDir(tmp(folder)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
    }
    QByteArray decrypted(const QString& path) const {
        return decryptDownloadFile(testKey(2048).key.get(), readBytes(path)).document;
    }

    QTemporaryDir dir;
    FileUtil files;
    QStringList messages;
};

TEST_F(FileUtilTest, DefaultsXdgFolderAndSensorFolderRules) {
    EXPECT_EQ(files.baseSubjectDataDir(), QDir::currentPath() + "/data/");
    EXPECT_EQ(files.getPublicKeyFile(), QDir::currentPath() + "/publickey.pem");

    const struct {
        QString dataDir;
        const char* sensorDir;
    } cases[] = {
        {tmp("out/"), "out/S1"},
        {tmp("out"), "outS1"},    // no separator inserted: a sibling
        {tmp("a,b/"), "a,b/S1"},  // unquoted, QSettings makes it a list
    };
    for (const auto& c : cases) {
        QDir(tmp({})).mkdir(c.sensorDir[1] == ',' ? "a,b" : "out");
        writeSettings("data_dir=" + c.dataDir);
        EXPECT_EQ(files.ensureSensorDir("S1"), tmp(c.sensorDir));
        EXPECT_EQ(files.combineSensorDirAndFilename("S1", "f"), tmp(c.sensorDir) + "/f");
    }
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));

    unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(applySettingsPathFromEnvironment(), "");
    setenv("XDG_CONFIG_DIRS", ":relative:/b/:/c", 1);  // the first absolute entry
    EXPECT_EQ(applySettingsPathFromEnvironment(), "/b/");
    EXPECT_EQ(
        QSettings(QSettings::IniFormat, QSettings::SystemScope, "LumoraConnector", "Configuration")
            .fileName(),
        "/b/LumoraConnector/Configuration.ini");
}

TEST_F(FileUtilTest, EachUserMessage) {
    const struct {
        const char* dataDir;
        const char* keyFile;
        std::function<void(FileUtil&, const FileUtilTest&)> action;
        const char* message;  // %1 is the temporary folder
    } cases[] = {
        {"missing/data/", "", [](FileUtil& f, auto&) { f.ensureSensorDir("S1"); },
         "Could not create the sensor path %1/missing/data/S1"},
        {"missing/data/", "",  // reported, then saved all the same
         [](FileUtil& f, auto& t) { EXPECT_TRUE(f.write(t.tmp("x"), kDocument)); },
         "Could not create the data path %1/missing/data"},
        {"data/", "", [](FileUtil& f, auto& t) { EXPECT_FALSE(f.write(t.tmp("no/x"), "{}")); },
         "Could not save the sensor file. Check the permissions on the diretory for %1/data"},
        {"", "", [](FileUtil& f, auto&) { EXPECT_TRUE(f.readAll("").isNull()); },
         "Could not read file"},
        {"", "none.pem", [](FileUtil& f, auto& t) { EXPECT_FALSE(f.write(t.tmp("y"), "{}")); },
         "Could not load the public key %1/none.pem: No such file or directory. The sensor file "
         "was not saved."},
        {"", "",
         [](FileUtil& f, auto&) { EXPECT_EQ(f.combineSensorDirAndFilename("../\x01", "f"), ""); },
         "Refused the sensor id \"../\\u0001\": it contains a path separator. Nothing was saved."},
        {"", "",
         [](FileUtil& f, auto&) { EXPECT_EQ(f.combineSensorDirAndFilename("S1", "a:b"), ""); },
         "Refused the file name \"a:b\": it contains :, which file names may not hold. Nothing was "
         "saved."},
        {"", "", [](FileUtil& f, auto&) { EXPECT_FALSE(f.write("", "{}")); },
         "Could not save the sensor file: it has no name."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        configure(c.dataDir, c.keyFile);
        messages.clear();
        c.action(files, *this);
        EXPECT_EQ(messages, QStringList(QString(c.message).arg(tmp({}))));
    }
    EXPECT_EQ(entries({}), QStringList({"data", "LumoraConnector", "x"}));  // y never written
}

TEST_F(FileUtilTest, RefusesSensorIdsThatAreNotPlainNames) {
    configure("data/");
    QDir(tmp({})).mkdir("data");
    for (const char* id : {"", "  ", ".", "..", "../S1", "S1/..", "a\\b", "C:", "S1\r\n", "S\x7f",
                           " S1", "\u202eS1", "S*"}) {
        EXPECT_EQ(files.ensureSensorDir(id), "") << id;
    }
    EXPECT_EQ(messages.filter(QRegularExpression("^Refused the sensor id \"")).size(), 13);
    EXPECT_EQ(entries("data"), QStringList());
    for (const char* id : {"S1", "0M0000ABC12", "Sensor-1.x_2", "\u00dcnic\u00f6de"}) {
        EXPECT_EQ(files.ensureSensorDir(id), tmp(QStringLiteral("data/") + id));
    }
}

TEST_F(FileUtilTest, DataPathMissingThenNextSaveSucceedsAndReplacesOnlyWhole) {
    configure("data/");
    const QString name = "S1_2026-12-05T081530.123Z_data.json";
    const QString path = files.combineSensorDirAndFilename("S1", name);
    EXPECT_EQ(path, tmp("data/S1/") + name);
    EXPECT_FALSE(files.write(path, kDocument));
    EXPECT_EQ(messages, QStringList({"Could not create the sensor path " + tmp("data/S1"),
                                     "Could not save the sensor file. Check the permissions on "
                                     "the diretory for " +
                                         tmp("data")}));
    EXPECT_EQ(entries("data"), QStringList());

    messages.clear();
    EXPECT_EQ(files.combineSensorDirAndFilename("S1", name), path);
    EXPECT_TRUE(files.write(path, kDocument));
    EXPECT_TRUE(files.write(path, kDocument));  // replaces
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(decrypted(path), kDocument.toLatin1());
    EXPECT_TRUE(ownerOnly(path));

    const QByteArray saved = readBytes(path);
    configure("data/", "none.pem");  // a failed save leaves the earlier file as it was
    EXPECT_FALSE(files.write(path, "{}"));
    EXPECT_EQ(readBytes(path), saved);
    EXPECT_EQ(entries("data/S1"), QStringList(name));
}

TEST_F(FileUtilTest, TextConversionsAndNothingLostBeyondLatin1) {
    EXPECT_EQ(files.asByteArrayInLatin1("a\u00e9\u20ac"), "a\xe9?");
    EXPECT_EQ(files.asByteArrayInUtf16("ab"), QByteArray("a\0b\0", 4));

    configure("");
    const QString latin1 = savedShape(QStringLiteral("[{\"90\":\"caf\u00e9\"}]"));
    const QString wider = savedShape(QStringLiteral("[{\"90\":\"\u20ac\U0001F600\"}]"));
    ASSERT_TRUE(files.write(tmp("latin1"), latin1) && files.write(tmp("wider"), wider));
    EXPECT_EQ(decrypted(tmp("latin1")), latin1.toLatin1());  // as before
    EXPECT_EQ(decrypted(tmp("wider")), savedShape(R"([{"90":"\u20ac\ud83d\ude00"}])").toLatin1());
    EXPECT_EQ(QJsonDocument::fromJson(decrypted(tmp("wider"))),
              QJsonDocument::fromJson(wider.toUtf8()));
}

}  // namespace
