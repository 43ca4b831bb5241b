// The window driven as a user would: its labels, dialogs, button, messages and saved file.
#include <QQmlContext>
#include <QQmlProperty>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

#include "connector_window.h"
#include "hid/hid.h"
#include "tests/support/denying_backend.h"

namespace {

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
    // A serial number in markup was rendered, a remote image fetched included.
    for (const char* name :
         {"lblStatus1", "lblReaderSerialNumber", "lblSerialNumber", "lblReaderDateTime",
          "lblFileName", "lblRecordCount", "errorText", "lblClockWarning"}) {
        EXPECT_EQ(item(name)->property("textFormat").toInt(), Qt::PlainText) << name;
    }
}

TEST_F(ConnectorWindow, ArrivalShowsSerialAndClockAndGetDataSavesTheDocumentAndOffersIt) {
    const QString clock = "14 Jun 2024 09:41:27";  // the simulated reader's
    ReaderSim& reader = plugReader();
    waitForArrival();
    EXPECT_EQ(text("lblStatus1"), kConnected);
    EXPECT_EQ(text("lblSerialNumber").toStdString(), scenario_->serial);
    EXPECT_EQ(text("lblReaderDateTime"), clock);
    EXPECT_EQ(text("lblReaderSerialNumber"), "");

    // Seen as the download begins: a short one may be over before the click returns.
    bool progressShown = false;
    QObject scope;
    QObject::connect(session_, &DownloadSession::downloadStarted, &scope, [&] {
        progressShown = visible("progressDialog") && flag("timer1", "running");
    });
    clickGetData();
    ASSERT_TRUE(waitFor([&] { return visible("transferDialog"); }))
        << qPrintable(text("errorDialog"));
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(visible("progressDialog"));
    EXPECT_FALSE(flag("timer1", "running"));
    const QString sensor = text("lblReaderSerialNumber");

    const QStringList files = savedFiles();
    ASSERT_EQ(files.size(), 1) << qPrintable(files.join(", "));
    EXPECT_TRUE(files[0].startsWith(sensor + "/" + sensor + "_")) << qPrintable(files[0]);
    const QString path = appTestFolders().data() + files[0];
    // The whole path as the platform writes it, for those who cannot drag.
    EXPECT_EQ(text("lblFileName"), QDir::toNativeSeparators(path));
    EXPECT_TRUE(QRegularExpression("^\\d+ records?$").match(text("lblRecordCount")).hasMatch())
        << qPrintable(text("lblRecordCount"));

    QObject* draggable = item("draggable");
    const QVariantMap mime =
        QQmlProperty(draggable, "Drag.mimeData", qmlContext(draggable)).read().toMap();
    EXPECT_EQ(mime["text/uri-list"].toString(),
              QUrl::fromLocalFile(QDir::cleanPath(path)).toString());

    // Removal clears only the sensor's serial number; the file stays on offer.
    reader.unplug();
    ASSERT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
    EXPECT_EQ(text("lblReaderSerialNumber"), "");
    EXPECT_EQ(text("lblSerialNumber").toStdString(), scenario_->serial);
    EXPECT_EQ(text("lblReaderDateTime"), clock);
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    EXPECT_TRUE(visible("transferDialog"));
}

// Drawn inside the window, each dialog fits whole in its middle: a panel too large is shown
// smaller, not cut off.
TEST_F(ConnectorWindow, DialogsOpenWholeInTheMiddleOfTheWindowAndAnswerTheKeyboard) {
    item("errorDialog")->setProperty("text", QString("Longer than the window. ").repeated(300));
    EXPECT_EQ(text("logText"), "A log for support is kept in " +
                                   QDir::toNativeSeparators(appTestFolders().base) + ".");
    const QRectF area(QPointF(), window_->size());
    const std::pair<const char*, QStringList> cases[] = {
        {"errorDialog", {"Open log folder", "OK"}},
        {"progressDialog", {"Cancel"}},
        {"transferDialog", {"Copy path", "Open folder", "OK"}},
    };
    for (const auto& [name, buttons] : cases) {
        SCOPED_TRACE(name);
        QMetaObject::invokeMethod(item(name), "open");
        auto* frame = item(name)->property("background").value<QQuickItem*>();
        auto* panel = item(name)->property("panel").value<QQuickItem*>();
        const QRectF box = frame->mapRectToScene(frame->boundingRect());
        EXPECT_TRUE(area.contains(box));
        EXPECT_TRUE(box.contains(panel->mapRectToScene(panel->boundingRect())));
        EXPECT_LE((box.center() - area.center()).manhattanLength(), 1);

        QStringList reached;
        for (int tab = 0; tab <= buttons.size(); ++tab) {
            QTest::keyClick(window_, Qt::Key_Tab);
            if (window_->activeFocusItem()->inherits("QQuickButton")) {
                reached << window_->activeFocusItem()->property("text").toString();
            }
        }
        reached.removeDuplicates();
        EXPECT_EQ(reached, buttons);
        QTest::keyClick(window_, Qt::Key_Escape);
        EXPECT_FALSE(visible(name));
    }
}

// A document naming no sensor used to stop the completion handler, leaving the progress open.
TEST_F(ConnectorWindow, ADownloadWithNothingToSaveEndsTheProgressAndOffersNoFile) {
    const struct {
        DownloadSession::Failure failure;
        const char* error;  // the error dialog's text; null: no dialog
    } cases[] = {
        {DownloadSession::NoSensorId,
         "The reader's data does not name the sensor. Nothing was saved."},
        {DownloadSession::NotSaved, "Could not save the sensor file."},  // said by FileUtil
        // The reader's removal: the status line tells the user.
        {DownloadSession::ReaderGone, nullptr},
        {DownloadSession::NotAnswering, kNotAnswering},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        QMetaObject::invokeMethod(item("progressDialog"), "open");
        QMetaObject::invokeMethod(item("timer1"), "start");
        if (c.failure == DownloadSession::NotSaved) {
            emit session_->fileProblem(c.error);
        }
        emit session_->failed(c.failure, "detail");
        EXPECT_EQ(visible("errorDialog") ? text("errorDialog") : "", c.error ? c.error : "");
        EXPECT_FALSE(visible("progressDialog"));
        EXPECT_FALSE(flag("timer1", "running"));
        QMetaObject::invokeMethod(item("errorDialog"), "close");
    }
}

// A missing data folder used to show only once the download was done, and lost it.
TEST_F(ConnectorWindow, AnUnusableSetUpIsSaidAtStartAndOnGetDataAndNothingIsDownloaded) {
    QDir(appTestFolders().data()).removeRecursively();
    startWindow();
    const QString problem = text("errorDialog");
    EXPECT_TRUE(visible("errorDialog"));
    EXPECT_TRUE(problem.startsWith(
        "The data folder " + QDir(appTestFolders().data()).absolutePath() + " does not exist."))
        << qPrintable(problem);
    QMetaObject::invokeMethod(item("errorDialog"), "close");

    plugReader();
    waitForArrival();
    clickGetData();
    EXPECT_TRUE(visible("errorDialog"));
    EXPECT_EQ(text("errorDialog"), problem);
    EXPECT_FALSE(visible("progressDialog"));
}

// The bar moves by 10 a second and the counter is never reset: the first download stops the
// timer on its tenth tick, later ones wrap the bar and leave the timer running.
TEST_F(ConnectorWindow, ProgressCounterCarriesOverFromOneDownloadToTheNext) {
    QObject* timer = item("timer1");
    QObject* bar = item("progressBar");
    // Ticks by hand: the test processes no events meanwhile, so the real timer never fires.
    auto tick = [&] { QMetaObject::invokeMethod(timer, "triggered"); };
    QMetaObject::invokeMethod(timer, "start");
    for (int second = 1; second <= 10; ++second) {
        tick();
        EXPECT_EQ(bar->property("value").toInt(), std::min(second, 9) * 10);
        EXPECT_EQ(flag("timer1", "running"), second < 10);
    }

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
    HidTimingsForTest().openRetryLimitMs = 100;
    const QString status = "A reader is plugged in at " +
                           QString::fromStdString(plugReader().socketPath()) +
                           " but this user may not open it: install the udev rule (see README) "
                           "and plug it in again.";
    EXPECT_TRUE(waitFor([&] { return text("lblStatus1") == status; }))
        << qPrintable(text("lblStatus1"));
    EXPECT_FALSE(flag("btnGetData", "enabled"));
    // Access granted later, as when udev applies its rule late: found without a new plug-in.
    backend.deny = false;
    waitForArrival();
    HidSetBackendForTest(nullptr);
    HidTimingsForTest() = HidTimings();
}

}  // namespace
