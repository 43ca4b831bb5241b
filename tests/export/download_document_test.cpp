// The JSON document, its "hostDateTime" under several time zones, and naming and saving a
// download as the window does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include "export/decrypter.h"
#include "export/download_document.h"
#include "export/download_save.h"
#include "export/file_util.h"
#include "export/settings_path.h"
#include "export_test_support.h"

namespace {

QJsonArray arrayOf(const char* json) {
    return QJsonDocument::fromJson(json).array();
}

TEST(DownloadDocumentTest, MembersComeInKeyTextOrderInCompactForm) {
    const QTimeZone paris("Europe/Paris");
    ASSERT_TRUE(paris.isValid());
    // 06:08:09 UTC is 07:08:09 in Paris, in winter.
    const QDateTime at(QDate(2021, 3, 5), QTime(6, 8, 9, 765), Qt::UTC);
    const QString document = buildDownloadDocument(
        arrayOf(R"([{"90":"S1\r\n","8":"b","2":"a","10":"c"}])"), arrayOf(R"([{"200":"1000"}])"),
        arrayOf(R"([{"1":"e"},{}])"), hostDateTime(at, paris));

    const QString head =
        R"({"events":[{"1":"e"},{}],"factory_config":[{"200":"1000"}],)"
        R"("hostDateTime":{"isDaylightTime":false,"localDateTime":"2021-03-05T07:08:09",)"
        R"("timeZoneName":")";
    const QString tail =
        R"(","utcOffSetInSec":3600},"records":[{"10":"c","2":"a","8":"b","90":"S1\r\n"}]})";
    EXPECT_TRUE(document.startsWith(head)) << qPrintable(document);
    EXPECT_TRUE(document.endsWith(tail)) << qPrintable(document);
    const QString names = document.mid(head.size(), document.size() - head.size() - tail.size());
    const QStringList parts = names.split(R"(","timeZoneShortName":")");
    ASSERT_EQ(parts.size(), 2) << qPrintable(names);
    EXPECT_FALSE(parts[0].isEmpty());
    EXPECT_FALSE(parts[1].isEmpty());
}

// Runs the probe program, which prints hostDateTime for a local time in the system zone, under
// TZ: the zone is read from the environment once per process, so each case gets its own.
QJsonObject hostDateTimeUnder(const QString& tz, const QString& localTime) {
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TZ", tz);
    probe.setProcessEnvironment(environment);
    probe.start(LUMORA_HOST_TIME_PROBE, {localTime});
    if (!probe.waitForFinished(60000) || probe.exitCode() != 0) {
        ADD_FAILURE() << "probe failed: " << probe.readAllStandardError().toStdString();
        return {};
    }
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

TEST(DownloadDocumentTest, HostDateTimeFollowsTheSystemTimeZone) {
    const struct {
        const char* tz;
        const char* localTime;
        int offset;
        bool daylight;
    } cases[] = {
        {"Europe/Paris", "2021-03-05T07:08:09", 3600, false},  // UTC+1 in winter
        {"America/New_York", "2021-03-05T07:08:09", -18000, false},
        {"Europe/Paris", "2021-07-05T07:08:09", 7200, true},
        // A POSIX rule, which Qt 5 cannot turn into a zone: the C library's offset stands in.
        {"CET-1CEST,M3.5.0,M10.5.0/3", "2021-03-05T07:08:09", 3600, false},
        {"EST5EDT,M3.2.0,M11.1.0", "2021-07-05T07:08:09", -14400, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        const QJsonObject host = hostDateTimeUnder(c.tz, c.localTime);
        EXPECT_EQ(host.keys(), QStringList({"isDaylightTime", "localDateTime", "timeZoneName",
                                            "timeZoneShortName", "utcOffSetInSec"}));
        EXPECT_EQ(host["utcOffSetInSec"].toVariant(), QVariant(c.offset));
        EXPECT_EQ(host["isDaylightTime"].toVariant(), QVariant(c.daylight));
        EXPECT_EQ(host["localDateTime"].toString(), c.localTime);
        EXPECT_FALSE(host["timeZoneName"].toString().isEmpty());
        EXPECT_FALSE(host["timeZoneShortName"].toString().isEmpty());
    }
}

TEST(DownloadSaveTest, FileNameIsTheUtcIsoTimeWithoutColons) {
    const QTimeZone paris("Europe/Paris");
    const struct {
        QDateTime now;
        const char* name;
    } cases[] = {
        {QDateTime(QDate(2026, 12, 5), QTime(8, 15, 30, 123), Qt::UTC),
         "ABC_2026-12-05T081530.123Z_data.json"},
        {QDateTime(QDate(2026, 12, 5), QTime(9, 15, 30, 123), paris),
         "ABC_2026-12-05T081530.123Z_data.json"},
        {QDateTime(QDate(2021, 1, 2), QTime(3, 4, 5), Qt::UTC),
         "ABC_2021-01-02T030405.000Z_data.json"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(downloadFileName("ABC", c.now), c.name);
    }
}

TEST(DownloadSaveTest, SensorIdIsMember90OfTheFirstRecordTrimmed) {
    const struct {
        const char* document;
        const char* id;  // null: refused with a problem
    } cases[] = {
        {R"({"records":[{"10":"1","90":"ABC\r\n"},{"90":"DEF\r\n"}]})", "ABC"},
        {R"({"records":[{"90":" \tX 1 \r\n"}]})", "X 1"},
        {R"({"records":[{"90":"\r\n"}]})", nullptr},
        {R"({"records":[]})", nullptr},
        {R"({"records":[{"91":"ABC"}]})", nullptr},
        {R"({"records":[{"90":7}]})", nullptr},
        {R"({"events":[]})", nullptr},
        {R"([{"90":"ABC"}])", nullptr},
        {"", nullptr},
        {R"({"records":[{"90":"ABC"})", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        QString problem;
        const QString id = sensorIdOf(c.document, &problem);
        if (c.id) {
            EXPECT_EQ(id, c.id);
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(id, "");
            EXPECT_FALSE(problem.isEmpty());
        }
    }
}

TEST(DownloadSaveTest, SavesEncryptedInTheSensorFolderOrNothingAtAll) {
    QTemporaryDir dir;
    setenv("XDG_CONFIG_DIRS", qPrintable(dir.path()), 1);
    applySettingsPathFromEnvironment();
    QDir(dir.path()).mkpath("LumoraConnector");
    QDir(dir.path()).mkpath("data");
    writeBytes(
        dir.filePath("LumoraConnector/Configuration.ini"),
        ("data_dir=" + dir.filePath("data/") + "\npublic_key_file=" + testKey(2048).publicPem())
            .toUtf8());
    FileUtil files;
    QStringList messages;
    QObject::connect(&files, &FileUtil::raiseErrorMessage,
                     [&](const QString& message) { messages.append(message); });
    const QDateTime now(QDate(2026, 12, 5), QTime(8, 15, 30, 123), Qt::UTC);

    const QString document =
        R"({"events":[],"factory_config":[],"hostDateTime":{},"records":[{"90":"ABC\r\n"}]})";
    QString problem;
    const QString path = saveDownload(files, document, now, &problem);
    EXPECT_EQ(path, dir.filePath("data/ABC/ABC_2026-12-05T081530.123Z_data.json"));
    EXPECT_EQ(decryptDownloadFile(testKey(2048).key.get(), readBytes(path)).document,
              document.toUtf8());
    EXPECT_TRUE(ownerOnly(path));
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));

    const struct {
        const char* document;
        bool problem;  // else FileUtil's message
    } refused[] = {
        {R"({"records":[{"90":"../up\r\n"}]})", false},
        {R"({"records":[{"90":"..\r\n"}]})", false},
        {R"({"records":[{"90":"  \r\n"}]})", true},
        {R"({"records":[{"90":"a\u0001b"}]})", false},
        {R"({"records":[]})", true},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.document);
        messages.clear();
        EXPECT_EQ(saveDownload(files, c.document, now, &problem), "");
        EXPECT_EQ(!problem.isEmpty(), c.problem) << qPrintable(problem);
        EXPECT_EQ(messages.size(), c.problem ? 0 : 1) << qPrintable(messages.join('\n'));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"data", "LumoraConnector"}));
    EXPECT_EQ(QDir(dir.filePath("data")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"ABC"}));
    unsetenv("XDG_CONFIG_DIRS");
}

}  // namespace
