// The JSON document in its saved form, its "hostDateTime", and a download's sensor id.
#include <gtest/gtest.h>
#include <time.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "export/download_document.h"
#include "export/download_save.h"
#include "tests/support/test_platform.h"

namespace {

QByteArray compact(const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// Qt's compact text of the whole object, members in key text order, one byte per Latin-1
// character and a \uXXXX escape for any other.
TEST(DownloadDocumentTest, SavedFormIsQtsTextWithLatin1BytesAndEscapesBeyond) {
    const QJsonObject host{{"isDaylightTime", false}, {"utcOffSetInSec", -18000}};
    const struct {
        QString value;
        QByteArray saved;  // the value as it stands in the saved document
    } cases[] = {
        {"q\"b\\s/\t\x01\x7f", "\"q\\\"b\\\\s/\\t\\u0001\x7f\""},
        {QStringLiteral("caf\u00e9 \u00ff"), "\"caf\xe9 \xff\""},
        {QStringLiteral("\u0100\u20ac\U0001F600"), R"("\u0100\u20ac\ud83d\ude00")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved.toStdString());
        const QJsonArray records{QJsonObject{{"90", c.value}, {"8", "b"}, {"10", "1"}}};
        EXPECT_EQ(
            buildDownloadDocument(compact(records), R"([{"200":"1000"}])",
                                  compact({QJsonObject{{"3", c.value}}, QJsonObject()}), host),
            R"({"events":[{"3":)" + c.saved +
                R"(},{}],"factory_config":[{"200":"1000"}],"hostDateTime":)"
                R"({"isDaylightTime":false,"utcOffSetInSec":-18000},)"
                R"("records":[{"10":"1","8":"b","90":)" +
                c.saved + "}]}");
    }
}

TEST(DownloadDocumentTest, HostDateTimeIsTheInstantInTheZoneOrTheCLibrarysLocalTime) {
    const struct {
        const char* tz;
        QDateTime at;
        const char* local;
        int offset;
        bool daylight;
    } cases[] = {
        {"Europe/Paris", QDateTime({2021, 3, 5}, {6, 8, 9, 765}, Qt::UTC), "2021-03-05T07:08:09",
         3600, false},
        {"Europe/Paris", QDateTime({2021, 7, 5}, {5, 8, 9}, Qt::UTC), "2021-07-05T07:08:09", 7200,
         true},
        // A POSIX rule, which Qt 5 cannot turn into a zone: the C library's local time stands in.
        {"EST5EDT,M3.2.0,M11.1.0", QDateTime({2021, 7, 5}, {11, 8, 9}, Qt::UTC),
         "2021-07-05T07:08:09", -14400, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
#ifdef _WIN32
        if (!QTimeZone(c.tz).isValid()) {
            continue;  // the Windows C library reads no daylight-saving rules from TZ
        }
#endif
        TestSetEnv("TZ", c.tz);
        tzset();
        const QJsonObject host = hostDateTime(c.at, QTimeZone(c.tz));
        EXPECT_EQ(host["utcOffSetInSec"].toVariant(), QVariant(c.offset));
        EXPECT_EQ(host["isDaylightTime"].toVariant(), QVariant(c.daylight));
        EXPECT_EQ(host["localDateTime"].toString(), c.local);
        EXPECT_FALSE(host["timeZoneName"].toString().isEmpty());
        EXPECT_FALSE(host["timeZoneShortName"].toString().isEmpty());
    }
    TestUnsetEnv("TZ");
    tzset();
}

TEST(DownloadSaveTest, SensorIdIsMember90OfTheFirstRecordTrimmed) {
    const struct {
        const char* record;
        const char* id;  // null: none
    } cases[] = {
        {R"({"90":" \tX 1 \r\n"})", "X 1"},
        {R"({"90":"\r\n"})", ""},  // left to FileUtil's check
        {R"({})", nullptr},
        {R"({"90":7})", nullptr},
    };
    for (const auto& c : cases) {
        const QString id = sensorIdOf(QJsonDocument::fromJson(c.record).object());
        EXPECT_EQ(id.isNull(), c.id == nullptr) << c.record;
        EXPECT_EQ(id, c.id ? c.id : "") << c.record;
    }
}

}  // namespace
