// Start-up as lumora-connector runs it: no reader traffic without a window; pictures compiled in.
#include <QImageReader>

#include "connector_window.h"
#include "transport/mal_trans_atp.h"

namespace {

// Kept first: the transport starts once per process, so only a fresh process can show that a
// failed start-up leaves it alone (CTest runs every case in a process of its own).
TEST(ConnectorStartup, MissingOrBrokenWindowEndsWithMinusOneAndNoTraffic) {
    if (theTransport) {
        GTEST_SKIP() << "an earlier test of this process started the transport";
    }
    ReaderSim reader(quietReader("no-window"));
    std::string error;
    ASSERT_TRUE(reader.start(&error)) << error;

    QTemporaryDir dir;
    writeBytes(dir.filePath("broken.qml"), "import QtQuick 2.11\nItem {\n");

    for (const QUrl& window :
         {QUrl("qrc:/missing.qml"), QUrl::fromLocalFile(dir.filePath("broken.qml"))}) {
        SCOPED_TRACE(window.toString().toStdString());
        QQmlApplicationEngine engine;
        EXPECT_EQ(startConnector(engine, window), kNoWindowExitCode);
        EXPECT_TRUE(engine.rootObjects().isEmpty());
    }
    EXPECT_EQ(theTransport, nullptr);
    EXPECT_EQ(reader.state().connections, 0u);
}

TEST(ConnectorStartup, PicturesAreCompiledInAtTheirSizes) {
    const struct {
        const char* path;
        QSize size;
        bool animated;
    } pictures[] = {
        {":/logo_norvane_lrg2.png", {1163, 418}, false},
        {":/logo_norvane_lrg2.jpg", {1163, 418}, false},
        {":/dragout-animated.gif", {522, 350}, true},
        {":/dragout-green.png", {522, 350}, false},
        {":/dragout-light-green.png", {522, 350}, false},
    };
    for (const auto& picture : pictures) {
        QImageReader reader(picture.path);
        if (!QImageReader::supportedImageFormats().contains(reader.format())) {
            continue;  // the window shows no JPEG; a Qt without JPEG support only carries it
        }
        EXPECT_EQ(reader.size(), picture.size) << picture.path;
        EXPECT_EQ(reader.imageCount() > 1, picture.animated) << picture.path;
        EXPECT_FALSE(reader.read().isNull()) << picture.path;
    }
}

}  // namespace
