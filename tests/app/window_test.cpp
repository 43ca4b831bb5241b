// The window as lumora-connector starts it, driven like a user would, against the reader
// simulator: what it shows, what it saves, and how it ends a download.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <array>
#include <memory>

#include "app/connector_app.h"
#include "app_test_support.h"
#include "client/device_client.h"
#include "export/decrypter.h"
#include "export/download_mediator.h"
#include "export_test_support.h"
#include "hid/hid.h"
#include "tests/support/denying_backend.h"
#include "tools/reader-sim/reader_sim.h"

namespace {

const QString kConnected = "The reader is connected.";
const QString kDisconnected = "The reader is disconnected.";

// Every file below the data folder, relative to it.
QStringList savedFiles() {
    QStringList files;
    const QDir data(appTestFolders().data());
    for (const QString& folder : data.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString& file : QDir(data.filePath(folder)).entryList(QDir::Files)) {
            files << folder + "/" + file;
        }
    }
    return files;
}

std::shared_ptr<const Scenario> withReadings(uint32_t records) {
    DefaultScenarioParams params;
    params.records = records;
    return MakeDefaultScenario(params);
}

bool requested(const ReaderSimState& state, uint16_t type) {
    return std::any_of(state.requests.begin(), state.requests.end(),
                       [type](const AapMessage& m) { return m.type == type; });
}

class ConnectorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(appTestFolders().data()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(appTestFolders().data()));
        engine_ = std::make_unique<QQmlApplicationEngine>();
        ASSERT_EQ(startConnector(*engine_), 0);
        window_ = qobject_cast<QQuickWindow*>(engine_->rootObjects().value(0));
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
        mediator_ = qobject_cast<DownloadMediator*>(
            engine_->rootContext()->contextProperty("downloadMediator").value<QObject*>());
        ASSERT_NE(mediator_, nullptr);
    }

    void TearDown() override {
        // The next test's window must not hear this reader leave.
        if (reader_) {
            const bool connected = text("lblStatus1") == kConnected;
            reader_->stop();
            if (connected) {
                EXPECT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
            }
        }
        engine_.reset();
    }

    QObject* item(const char* name) const {
        QObject* found = window_->findChild<QObject*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) const { return item(name)->property("text").toString(); }
    bool flag(const char* name, const char* property) const {
        return item(name)->property(property).toBool();
    }
    bool visible(const char* dialog) const { return flag(dialog, "visible"); }

    ReaderSim& plugReader(std::shared_ptr<const Scenario> scenario = nullptr,
                          int neverAnswer = -1) {
        static int readers = 0;
        ReaderSimOptions options;
        options.dir = appTestFolders().sockets().toStdString();
        options.name = "window-" + std::to_string(++readers);
        options.log = false;
        options.neverAnswer = neverAnswer;
        options.scenario = scenario ? scenario : MakeDefaultScenario({});
        scenario_ = options.scenario;
        reader_ = std::make_unique<ReaderSim>(options);
        std::string error;
        EXPECT_TRUE(reader_->start(&error)) << error;
        return *reader_;
    }

    void waitForArrival() {
        ASSERT_TRUE(waitFor([&] { return flag("btnGetData", "enabled"); }))
            << qPrintable(text("lblStatus1"));
    }

    // A real click in the middle of the button.
    void clickGetData() {
        auto* button = qobject_cast<QQuickItem*>(item("btnGetData"));
        const QPointF centre = button->mapToScene(QPointF(button->width(), button->height()) / 2);
        QTest::mouseClick(window_, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    }

    // Runs one download and returns the document the window received.
    QString download() {
        QString document;
        auto connection = QObject::connect(
            mediator_, &DownloadMediator::onResultsReady,
            [&](const QByteArray& results) { document = QString::fromLatin1(results); });
        // Seen as the download begins: a short one may be over before the click returns.
        bool progressShown = false;
        auto begun = QObject::connect(mediator_, &DownloadMediator::beginDownload, [&] {
            progressShown = visible("progressDialog") && flag("timer1", "running");
        });
        clickGetData();
        EXPECT_TRUE(waitFor([&] { return visible("transferDialog") || visible("errorDialog"); }));
        EXPECT_TRUE(progressShown);
        QObject::disconnect(connection);
        QObject::disconnect(begun);
        return document;
    }

    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow* window_ = nullptr;
    DownloadMediator* mediator_ = nullptr;
    std::shared_ptr<const Scenario> scenario_;
    std::unique_ptr<ReaderSim> reader_;
};

TEST_F(ConnectorWindow, StartsWaitingForTheReaderWithGetDataDisabledAndPlainTextLabels) {
    EXPECT_EQ(window_->title(), "Norvane Lumora Kelo Connector");
    EXPECT_EQ(window_->size(), QSize(600, 380));
    EXPECT_EQ(text("lblStatus1"), "Please Connect the Reader.");
    EXPECT_EQ(text("lblReaderDateTime"), "<device not connected>");
    EXPECT_EQ(text("lblSerialNumber"), "");
    EXPECT_EQ(text("lblStatus7"), LUMORA_VERSION);
    EXPECT_EQ(text("lblReaderSerialNumber"), "");
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    for (const char* dialog : {"errorDialog", "progressDialog", "transferDialog"}) {
        EXPECT_FALSE(visible(dialog)) << dialog;
    }
    // A click on the disabled button starts nothing.
    clickGetData();
    EXPECT_FALSE(visible("progressDialog"));
    // A serial number in markup was rendered, a remote image fetched included.
    for (const char* name : {"lblStatus1", "lblReaderSerialNumber", "lblSerialNumber",
                             "lblReaderDateTime", "lblFileName", "lblRecordCount", "errorText"}) {
        EXPECT_EQ(item(name)->property("textFormat").toInt(), Qt::PlainText) << name;
    }
}

TEST_F(ConnectorWindow, ArrivalShowsTheReadersSerialAndClockAndEnablesGetData) {
    const struct {
        std::array<uint8_t, 8> clock;  // second, minute, hour, day, month, year low and high
        QString text;
    } cases[] = {
        {{27, 41, 9, 14, 6, 0xE8, 0x07, 0}, "14 Jun 2024 09:41:27"},
        {{9, 8, 7, 5, 3, 0xE5, 0x07, 0}, "05 Mar 2021 07:08:09"},
        {{59, 59, 23, 31, 12, 0xCF, 0x07, 0}, "31 Dec 1999 23:59:59"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        auto scenario = std::make_shared<Scenario>(*MakeDefaultScenario({}));
        scenario->clock = c.clock;
        ReaderSim& reader = plugReader(scenario);
        waitForArrival();
        EXPECT_EQ(text("lblStatus1"), kConnected);
        EXPECT_EQ(text("lblSerialNumber").toStdString(), scenario->serial);
        EXPECT_EQ(text("lblReaderDateTime"), c.text);
        EXPECT_EQ(text("lblReaderSerialNumber"), "");
        const ReaderSimState state = reader.state();
        EXPECT_EQ(std::count(state.textCommands.begin(), state.textCommands.end(), "$sn?"), 1);
        EXPECT_TRUE(requested(state, 65));
        reader.stop();
        ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    }
}

TEST_F(ConnectorWindow, GetDataSavesTheEncryptedDocumentOffersItsFileUrlUntilRemoval) {
    ReaderSim& reader = plugReader();
    waitForArrival();
    const QString document = download();
    ASSERT_TRUE(visible("transferDialog")) << qPrintable(text("errorDialog"));
    EXPECT_FALSE(visible("errorDialog"));
    EXPECT_FALSE(visible("progressDialog"));
    EXPECT_FALSE(flag("timer1", "running"));

    // The sensor is member "90" of the first record, without the text field's CR LF.
    const QJsonArray records = QJsonDocument::fromJson(document.toUtf8())["records"].toArray();
    ASSERT_FALSE(records.isEmpty());
    const QString raw = records[0].toObject()["90"].toString();
    EXPECT_TRUE(raw.endsWith("\r\n"));
    const QString sensor = raw.trimmed();
    EXPECT_EQ(text("lblReaderSerialNumber"), sensor);

    const QStringList files = savedFiles();
    ASSERT_EQ(files.size(), 1) << qPrintable(files.join(", "));
    const QRegularExpression name("^" + QRegularExpression::escape(sensor) + "/" +
                                  QRegularExpression::escape(sensor) +
                                  "_\\d{4}-\\d\\d-\\d\\dT\\d{6}\\.\\d{3}Z_data\\.json$");
    EXPECT_TRUE(name.match(files[0]).hasMatch()) << qPrintable(files[0]);
    const QString path = appTestFolders().data() + files[0];
    // The whole path, for those who cannot drag: selectable and on the clipboard at a click.
    EXPECT_EQ(text("lblFileName"), path);
    QMetaObject::invokeMethod(item("btnCopyPath"), "clicked");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
    for (const char* button : {"btnCopyPath", "btnOpenFolder"}) {
        EXPECT_TRUE(flag(button, "activeFocusOnTab")) << button;
    }
    EXPECT_TRUE(QRegularExpression("^\\d+ records?$").match(text("lblRecordCount")).hasMatch())
        << qPrintable(text("lblRecordCount"));

    QString failure;
    const EvpPkeyPtr key = loadPrivateKey(readBytes(appTestPrivateKey()), &failure);
    ASSERT_TRUE(key) << qPrintable(failure);
    const DecryptResult decrypted = decryptDownloadFile(key.get(), readBytes(path));
    ASSERT_EQ(decrypted.status, DecryptStatus::decrypted) << qPrintable(decrypted.message);
    EXPECT_EQ(decrypted.document, document.toLatin1());

    QObject* draggable = item("draggable");
    const QVariantMap mime =
        QQmlProperty(draggable, "Drag.mimeData", qmlContext(draggable)).read().toMap();
    EXPECT_EQ(mime.keys(), QStringList{"text/uri-list"});
    EXPECT_EQ(mime["text/uri-list"].toString(), "file://" + QDir::cleanPath(path));

    // Removal clears only the sensor's serial number; the file stays on offer.
    const QString serial = text("lblSerialNumber");
    const QString clock = text("lblReaderDateTime");
    reader.unplug();
    ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    EXPECT_EQ(text("lblReaderSerialNumber"), "");
    EXPECT_EQ(text("lblSerialNumber"), serial);
    EXPECT_EQ(text("lblReaderDateTime"), clock);
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    EXPECT_TRUE(visible("transferDialog"));
}

TEST_F(ConnectorWindow, EmptyTableSixShowsNoDataAndSavesNothing) {
    plugReader(withReadings(0));
    waitForArrival();
    const QString document = download();
    EXPECT_EQ(document, "");
    ASSERT_TRUE(visible("errorDialog"));
    EXPECT_EQ(text("errorDialog"), "No data to report from the Sensor.");
    EXPECT_FALSE(visible("progressDialog"));
    EXPECT_FALSE(visible("transferDialog"));
    EXPECT_FALSE(flag("timer1", "running"));
    EXPECT_TRUE(savedFiles().isEmpty());
}

// A document that does not name its sensor used to stop the completion handler with a script
// error, leaving the progress dialog open and the timer running; a sensor id that cannot be a
// folder name, or a save that fails, used to open the transfer dialog for a file never written.
TEST_F(ConnectorWindow, CompletionThatCannotBeSavedShowsAnErrorAndOffersNoFile) {
    const QByteArray document = R"({"records":[{"90":"S1\r\n"}]})";
    const struct {
        QByteArray document;
        const char* sensorId;
        const char* error;  // the error dialog's text starts with it
    } cases[] = {
        {R"({"records":[{"9":"S1"}]})", "",
         "The reader's data does not name the sensor. Nothing was saved."},
        {document, "../S1", ""},
        {document, "S:1", ""},
        // Without the data folder the sensor folder cannot be made.
        {document, "S1", "Could not"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sensorId);
        if (c.error == QString("Could not")) {
            QDir(appTestFolders().data()).removeRecursively();
        }
        QMetaObject::invokeMethod(item("progressDialog"), "open");
        QMetaObject::invokeMethod(item("timer1"), "start");
        emit mediator_->onResultsReady(c.document, c.sensorId);
        EXPECT_TRUE(visible("errorDialog"));
        EXPECT_TRUE(text("errorDialog").startsWith(c.error)) << qPrintable(text("errorDialog"));
        EXPECT_FALSE(text("errorDialog").isEmpty());
        EXPECT_FALSE(visible("progressDialog"));
        EXPECT_FALSE(flag("timer1", "running"));
        EXPECT_FALSE(visible("transferDialog"));
        EXPECT_EQ(text("lblReaderSerialNumber"), c.sensorId);
        QMetaObject::invokeMethod(item("errorDialog"), "close");
    }
    EXPECT_TRUE(savedFiles().isEmpty());
}

// The reader's removal used to end the download with an empty result and so the misleading
// "No data to report from the Sensor.".
TEST_F(ConnectorWindow, ReaderRemovedDuringDownloadEndsItWithoutADialog) {
    // Streams; far from done when the reader goes.
    ReaderSim& reader = plugReader(withReadings(1000000));
    waitForArrival();
    bool aborted = false;
    QObject::connect(mediator_, &DownloadMediator::onDownloadAborted, [&] { aborted = true; });
    clickGetData();
    ASSERT_TRUE(
        reader.waitUntil([](const ReaderSimState& s) { return requested(s, 49); }, kPatienceMs));
    reader.unplug();
    ASSERT_TRUE(waitFor([&] { return aborted && text("lblStatus1") == kDisconnected; }));
    EXPECT_FALSE(visible("errorDialog")) << qPrintable(text("errorDialog"));
    EXPECT_FALSE(visible("transferDialog"));
    EXPECT_FALSE(visible("progressDialog"));
    EXPECT_FALSE(flag("timer1", "running"));
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    EXPECT_TRUE(savedFiles().isEmpty());

    // Plugged in again, the reader is greeted as usual.
    reader.stop();
    plugReader();
    waitForArrival();
    EXPECT_EQ(text("lblStatus1"), kConnected);
}

// The arrival's requests used to block the GUI thread for as long as the reader kept silent,
// and a download waited for ever.
TEST_F(ConnectorWindow, AReaderThatStopsAnsweringIsToldAndNothingIsSaved) {
    const QString notAnswering = "The reader does not answer. Unplug it and plug it in again.";
    DeviceClient::setRequestRepeatMsForTest(200);
    const struct {
        int neverAnswer;
        bool download;
    } cases[] = {{65, false}, {49, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.neverAnswer);
        plugReader(nullptr, c.neverAnswer);
        if (c.download) {
            waitForArrival();
            clickGetData();
            EXPECT_TRUE(visible("progressDialog"));
            ASSERT_TRUE(waitFor([&] { return visible("errorDialog"); }));
            EXPECT_EQ(text("errorDialog"), notAnswering);
            EXPECT_FALSE(visible("progressDialog"));
            QMetaObject::invokeMethod(item("errorDialog"), "close");
        } else {
            ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == notAnswering; }));
            EXPECT_EQ(text("lblSerialNumber").toStdString(), scenario_->serial);
        }
        EXPECT_EQ(text("lblStatus1"), notAnswering);
        EXPECT_FALSE(flag("btnGetData", "enabled"));
        EXPECT_TRUE(savedFiles().isEmpty());
        reader_->stop();
        ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    }
    DeviceClient::setRequestRepeatMsForTest(10000);
}

// A missing data folder used to show only once the download was done, and lost it.
TEST_F(ConnectorWindow, AnUnusableSetUpIsSaidAtStartAndOnGetDataAndNothingIsDownloaded) {
    const QString problem = "The data folder " + QDir(appTestFolders().data()).absolutePath() +
                            " does not exist. Create it, or set data_dir in " +
                            appTestFolders().config() +
                            "/LumoraConnector/Configuration.ini to a folder that exists.";
    QDir(appTestFolders().data()).removeRecursively();
    engine_ = std::make_unique<QQmlApplicationEngine>();
    ASSERT_EQ(startConnector(*engine_), 0);
    window_ = qobject_cast<QQuickWindow*>(engine_->rootObjects().value(0));
    ASSERT_NE(window_, nullptr);
    EXPECT_TRUE(visible("errorDialog"));
    EXPECT_EQ(text("errorDialog"), problem);
    QMetaObject::invokeMethod(item("errorDialog"), "close");

    ReaderSim& reader = plugReader();
    waitForArrival();
    clickGetData();
    EXPECT_TRUE(visible("errorDialog"));
    EXPECT_EQ(text("errorDialog"), problem);
    EXPECT_FALSE(visible("progressDialog"));
    EXPECT_FALSE(requested(reader.state(), 52));
}

// The bar moves by 10 a second and the counter is never reset: the first download stops the
// timer on its tenth tick, later ones wrap the bar and leave the timer running.
TEST_F(ConnectorWindow, ProgressCounterCarriesOverFromOneDownloadToTheNext) {
    QObject* timer = item("timer1");
    QObject* bar = item("progressBar");
    // Ticks by hand: the test processes no events meanwhile, so the real timer never fires.
    auto tick = [&] { QMetaObject::invokeMethod(timer, "triggered"); };
    QMetaObject::invokeMethod(timer, "start");
    for (int second = 1; second <= 9; ++second) {
        tick();
        EXPECT_EQ(bar->property("value").toInt(), second * 10);
    }
    EXPECT_TRUE(flag("timer1", "running"));
    tick();
    EXPECT_FALSE(flag("timer1", "running"));
    EXPECT_EQ(bar->property("value").toInt(), 90);

    QMetaObject::invokeMethod(timer, "start");
    const int expected[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 10};
    for (const int value : expected) {
        tick();
        EXPECT_EQ(bar->property("value").toInt(), value);
        EXPECT_TRUE(flag("timer1", "running"));
    }
    QMetaObject::invokeMethod(timer, "stop");
}

// A reader this user may not open used to leave "Please Connect the Reader." on the status line.
TEST_F(ConnectorWindow, AReaderThisUserMayNotOpenIsNamedOnTheStatusLine) {
    DenyingBackend backend;
    HidSetBackendForTest(&backend);
    HidTimings& timings = HidTimingsForTest();
    const HidTimings saved = timings;
    timings.openRetryLimitMs = 100;
    plugReader();
    EXPECT_TRUE(waitFor([&] { return text("lblStatus1").contains("may not open"); }));
    const QString status = text("lblStatus1");
    EXPECT_TRUE(status.startsWith("A reader is plugged in at " + appTestFolders().sockets() + "/"))
        << qPrintable(status);
    EXPECT_TRUE(
        status.endsWith(" but this user may not open it: install the udev rule (see "
                        "README) and plug it in again."))
        << qPrintable(status);
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    // Access granted later, as when udev applies its rule late: found without a new plug-in.
    backend.deny = false;
    waitForArrival();
    HidSetBackendForTest(nullptr);
    timings = saved;
}

}  // namespace
