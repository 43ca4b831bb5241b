// DownloadSession against a stand-in reader behind the real AAP layer, device client and worker,
// settings, key and data in a temporary folder: a reader's visit, each failure, the saved file.
#include <gtest/gtest.h>

#include <QDir>
#include <QMetaEnum>
#include <QTest>
#include <algorithm>
#include <functional>

#include "export/download_session.h"
#include "export/reader_clock_check.h"
#include "export/settings_path.h"
#include "export_test_support.h"
#include "tests/client/fake_reader.h"
#include "tests/support/test_platform.h"

namespace {

template <typename Enum>
QString nameOf(Enum value) {
    return QMetaEnum::fromType<Enum>().valueToKey(value);
}

struct DownloadSessionTest : ::testing::Test {
    void SetUp() override {
        TestSetEnv("XDG_CONFIG_DIRS", qPrintable(dir.path()));
        applySettingsPathFromEnvironment();
        ASSERT_TRUE(QDir(dir.path()).mkpath("LumoraConnector") && QDir(dir.path()).mkpath("data"));
        writeBytes(
            dir.filePath("LumoraConnector/Configuration.ini"),
            ("data_dir=" + data() + "\npublic_key_file=" + testKey(2048).publicPem()).toUtf8());
        // In order: states, failures with their detail, FileUtil's messages, saves.
        const auto tell = [this](const QString& what) { told.append(what); };
        QObject::connect(&session, &DownloadSession::stateChanged,
                         [=] { tell(nameOf(session.state())); });
        QObject::connect(&session, &DownloadSession::failed,
                         [=](DownloadSession::Failure failure, const QString& detail) {
                             tell(nameOf(failure) + (detail.isEmpty() ? "" : ": " + detail));
                         });
        QObject::connect(&session, &DownloadSession::fileProblem, tell);
        QObject::connect(&session, &DownloadSession::saved, [=] { tell("saved"); });
    }
    QString data() const { return dir.filePath("data/"); }

    void answer(int records, const std::string& removedOn = {}, const std::string& silentOn = {}) {
        fake.answerDownload(records, records, removedOn, silentOn);
    }
    // Runs events until the session has told as much as expected, then compares.
    void expectTold(const QStringList& expected) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return told.size() >= expected.size(); },
                                    int(std::chrono::milliseconds(kPatience).count())) &&
                    fake.settle())
            << qPrintable(told.join(" | "));
        ASSERT_EQ(told.size(), expected.size()) << qPrintable(told.join(" | "));
        for (int i = 0; i < told.size(); ++i) {
            EXPECT_TRUE(told[i].startsWith(expected[i])) << qPrintable(told[i]);
        }
        told.clear();
    }
    void unplug() {
        fake.deliver({Removal()});
        QCoreApplication::processEvents();  // a removal still queued must not meet the next arrival
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return session.state() == DownloadSession::ReaderRemoved; }));
        EXPECT_EQ(session.sensorId(), "");
        told.clear();
        DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
    }

    QTemporaryDir dir;
    FakeReader fake;
    DownloadSession session;  // after the fake, which sets the device client up anew
    QStringList told;
};

TEST_F(DownloadSessionTest, ArrivalAndDownloadEndInTheirStates) {
    const struct {
        const char* name;
        std::function<void(DownloadSessionTest&)> arrange;  // before the download
        QStringList told;
    } cases[] = {
        {"saved", [](auto& t) { t.answer(3); }, {"Downloading", "Ready", "saved"}},
        {"no data", [](auto& t) { t.answer(0); }, {"Downloading", "Ready", "NoData"}},
        {"no sensor id", [](auto& t) { t.answer(-1); }, {"Downloading", "Ready", "NoSensorId: "}},
        {"removed",
         [](auto& t) { t.answer(3, kTable6Request); },
         {"Downloading", "ReaderRemoved", "ReaderGone: The reader was disconnected"}},
        {"silent",
         [](auto& t) {
             DeviceClient::setRequestRepeatMsForTest(50);
             t.answer(3, {}, kSchemaRequest);
         },
         {"Downloading", "ReaderSilent", "NotAnswering"}},
        // Something in the sensor folder's place: FileUtil says why.
        {"not saved",
         [](auto& t) {
             QDir(t.data() + "ABC").removeRecursively();
             writeBytes(t.data() + "ABC", "");
         },
         {"Downloading", "Ready", "This user may not write to the sensor folder", "NotSaved"}},
        // Said before the reader is asked anything.
        {"set-up unusable",
         [](auto& t) { QDir(t.data()).removeRecursively(); },
         {"SetupUnusable: The data folder"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(3);
        fake.attach();
        expectTold({"Arriving", "Ready"});
        EXPECT_EQ(session.serialNumber(), "S1");
        EXPECT_EQ(session.readerClock(), "05 Mar 2021 07:08:09");
        const size_t sent = fake.sentBytes().size();
        c.arrange(*this);
        session.download();
        expectTold(c.told);
        EXPECT_EQ(fake.sentBytes().size() == sent, c.told.size() == 1);
        unplug();
    }
    // The file that was saved stays on offer.
    EXPECT_TRUE(QDir::fromNativeSeparators(session.savedPath()).startsWith(data() + "ABC/ABC_"));
    EXPECT_TRUE(session.savedFolderUrl().endsWith("/data/ABC"));
}

// A clock answer queued behind the removal used to enable Get Data for no reader.
TEST_F(DownloadSessionTest, AnArrivalThatFailsReadiesNothing) {
    for (const bool late : {false, true}) {  // the clock answers once the reader is gone, or never
        SCOPED_TRACE(late);
        answer(0, {}, kClockRequest);
        DeviceClient::setRequestRepeatMsForTest(late ? kNeverRepeatMs : 50);
        const auto clockRequests = [&] {
            const auto sent = fake.sentBytes();
            return std::count(sent.begin(), sent.end(), kClockRequest);
        };
        const auto before = clockRequests();
        fake.attach();
        ASSERT_TRUE(QTest::qWaitFor([&] { return clockRequests() > before; }));
        if (late) {
            emit DeviceClient::instance()->onDisconnected();
            fake.deliver({Msg(65, kClock)});
        }
        // The late answer crosses two threads: time for it to arrive, wrongly.
        QTest::qWait(50);
        expectTold(late ? QStringList{"Arriving", "ReaderRemoved", "ReaderGone"}
                        : QStringList{"Arriving", "ReaderSilent", "NotAnswering"});
        unplug();
    }
}

// Whole minutes, rounded; exactly five is within; days over two. Only the wall clocks count.
TEST(ReaderClockWarning, SaysBehindOrAheadBeyondFiveMinutes) {
    const QDateTime now(QDate(2026, 12, 7), QTime(15, 4, 5), Qt::OffsetFromUTC, 3600);
    const QDateTime fields(now.date(), now.time(), Qt::UTC);  // the reader's, in no zone
    for (const qint64 within : {-299, -300, 300}) {
        EXPECT_EQ(readerClockWarning(fields.addSecs(within), now), "") << within;
    }
    EXPECT_EQ(readerClockWarning(QDateTime(), now), "");
    const std::pair<qint64, const char*> cases[] = {
        {-301, "5 min behind"},        {301, "5 min ahead of"},         {-3570, "1 h 0 min behind"},
        {-11520, "3 h 12 min behind"}, {172800, "48 h 0 min ahead of"}, {-172860, "2 days behind"}};
    for (const auto& [secs, said] : cases) {
        EXPECT_EQ(readerClockWarning(fields.addSecs(secs), now),
                  QString("The reader's clock is %1 this computer's.").arg(said));
    }
}

}  // namespace
