// The JSON document, its "hostDateTime" under several time zones, and naming and saving a
// download as the window does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QJsonArray>
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

// Qt's compact text of a JSON value written in any form.
QByteArray compact(const QByteArray& json) {
    return QJsonDocument::fromJson(json).toJson(QJsonDocument::Compact);
}

TEST(DownloadDocumentTest, MembersComeInKeyTextOrderInCompactForm) {
    const QTimeZone paris("Europe/Paris");
    ASSERT_TRUE(paris.isValid());
    // 06:08:09 UTC is 07:08:09 in Paris, in winter.
    const QDateTime at(QDate(2021, 3, 5), QTime(6, 8, 9, 765), Qt::UTC);
    const QString document = QString::fromLatin1(buildDownloadDocument(
        compact(R"([{"90":"S1\r\n","8":"b","2":"a","10":"c"}])"), compact(R"([{"200":"1000"}])"),
        compact(R"([{"1":"e"},{}])"), hostDateTime(at, paris)));

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

// The saved bytes: Qt's compact text of the whole object, one byte per Latin-1 character and a
// \uXXXX escape for any other, so nothing is lost and a document within ASCII is Qt's text.
TEST(DownloadDocumentTest, SavedFormIsQtsTextWithLatin1BytesAndEscapesBeyond) {
    const QJsonObject host{{"isDaylightTime", false}, {"utcOffSetInSec", -18000}};
    const struct {
        QString value;
        QByteArray saved;  // the value as it stands in the saved document
    } cases[] = {
        {"S1\r\n", R"("S1\r\n")"},
        {"q\"b\\s/\t\x01\x7f", "\"q\\\"b\\\\s/\\t\\u0001\x7f\""},
        {QStringLiteral("caf\u00e9 \u00ff"), "\"caf\xe9 \xff\""},
        {QStringLiteral("\u0100\u20ac\U0001F600"), R"("\u0100\u20ac\ud83d\ude00")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved.toStdString());
        const QJsonArray records{QJsonObject{{"90", c.value}, {"10", "1"}}};
        const QJsonArray events{QJsonObject{{"3", c.value}}};
        const auto text = [](const QJsonArray& a) {
            return QJsonDocument(a).toJson(QJsonDocument::Compact);
        };
        const QByteArray document =
            buildDownloadDocument(text(records), text({}), text(events), host);
        EXPECT_EQ(document, R"({"events":[{"3":)" + c.saved +
                                R"(}],"factory_config":[],"hostDateTime":{"isDaylightTime":false,)"
                                R"("utcOffSetInSec":-18000},"records":[{"10":"1","90":)" +
                                c.saved + "}]}");
        // Read back, it is the very object Qt would have written.
        const QJsonObject whole{{"records", records},
                                {"events", events},
                                {"factory_config", QJsonArray()},
                                {"hostDateTime", host}};
        EXPECT_EQ(QJsonDocument::fromJson(QString::fromLatin1(document).toUtf8()).object(), whole);
    }
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
        const char* record;
        const char* id;  // null: none
    } cases[] = {
        {R"({"10":"1","90":"ABC\r\n"})", "ABC"},
        {R"({"90":" \tX 1 \r\n"})", "X 1"},
        {R"({"90":"\r\n"})", ""},  // left to FileUtil's check
        {R"({})", nullptr},
        {R"({"91":"ABC"})", nullptr},
        {R"({"90":7})", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        const QString id = sensorIdOf(QJsonDocument::fromJson(c.record).object());
        EXPECT_EQ(id.isNull(), c.id == nullptr);
        EXPECT_EQ(id, c.id ? c.id : "");
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

    const QByteArray document =
        R"({"events":[],"factory_config":[],"hostDateTime":{},"records":[{"90":"ABC\r\n"}]})";
    QString problem;
    const QString path = saveDownload(files, document, "ABC", now, &problem);
    EXPECT_EQ(path, dir.filePath("data/ABC/ABC_2026-12-05T081530.123Z_data.json"));
    EXPECT_EQ(decryptDownloadFile(testKey(2048).key.get(), readBytes(path)).document, document);
    EXPECT_TRUE(ownerOnly(path));
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('\n'));

    const struct {
        QString sensorId;
        bool problem;  // else FileUtil's message
    } refused[] = {
        {"../up", false}, {"..", false}, {"", false}, {"a\u0001b", false}, {QString(), true},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.sensorId.toStdString());
        messages.clear();
        EXPECT_EQ(saveDownload(files, document, c.sensorId, now, &problem), "");
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
