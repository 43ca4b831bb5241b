// The window as lumora-connector starts it, a simulated reader to plug in, and its items.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <memory>

#include "app/connector_app.h"
#include "app_test_support.h"
#include "export/download_session.h"
#include "tools/reader-sim/reader_sim.h"

inline const QString kConnected = "The reader is connected.";
inline const QString kDisconnected = "The reader is disconnected.";
inline const char kNotAnswering[] = "The reader does not answer. Unplug it and plug it in again.";

// Every file below the data folder, relative to it.
inline QStringList savedFiles() {
    QStringList files;
    const QDir data(appTestFolders().data());
    for (const QString& folder : data.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QString& file : QDir(data.filePath(folder)).entryList(QDir::Files)) {
            files << folder + "/" + file;
        }
    }
    return files;
}

// A simulated reader that logs nothing, named name, for the sockets folder.
inline ReaderSimOptions quietReader(const std::string& name) {
    ReaderSimOptions options;
    options.dir = appTestFolders().sockets().toStdString();
    options.name = name;
    options.log = false;
    return options;
}

class ConnectorWindow : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(appTestFolders().data()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(appTestFolders().data()));
        startWindow();
    }

    void TearDown() override {
        // The next test's window must not hear this reader leave.
        if (reader_) {
            const DownloadSession::State state = session_->state();
            const bool present = state != DownloadSession::WaitingForReader &&
                                 state != DownloadSession::AccessDenied &&
                                 state != DownloadSession::ReaderRemoved;
            reader_->stop();
            if (present) {
                EXPECT_TRUE(waitFor([&] { return text("lblStatus1") == kDisconnected; }));
            }
        }
        engine_.reset();
    }

    void startWindow() {
        engine_ = std::make_unique<QQmlApplicationEngine>();
        ASSERT_EQ(startConnector(*engine_), 0);
        window_ = qobject_cast<QQuickWindow*>(engine_->rootObjects().value(0));
        ASSERT_NE(window_, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
        session_ = window_->findChild<DownloadSession*>("session");
        ASSERT_NE(session_, nullptr);
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

    ReaderSim& plugReader(std::shared_ptr<const Scenario> scenario = MakeDefaultScenario({}),
                          int neverAnswer = -1, std::optional<int64_t> clockOffsetS = {}) {
        static int readers = 0;
        ReaderSimOptions options = quietReader("window-" + std::to_string(++readers));
        options.neverAnswer = neverAnswer;
        options.clockOffsetS = clockOffsetS;
        options.scenario = scenario_ = scenario;
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

    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow* window_ = nullptr;
    DownloadSession* session_ = nullptr;
    std::shared_ptr<const Scenario> scenario_;
    std::unique_ptr<ReaderSim> reader_;
};
