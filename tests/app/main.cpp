// The window tests' process: Qt without a display, a temporary reader folder and settings, and
// an RSA key pair made for the run.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QGuiApplication>

#include "app_test_support.h"
#include "export/settings_path.h"
#include "export_test_support.h"
#include "temp_dir.h"

namespace {

AppTestFolders folders;

// Made once the tests run, not while CTest lists them.
class KeyAndSettings : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(folders.config() + "/LumoraConnector"));
        writeBytes(folders.config() + "/LumoraConnector/Configuration.ini",
                   QStringLiteral("[General]\ndata_dir=\"%1\"\npublic_key_file=\"%2\"\n")
                       .arg(folders.data(), testKey(2048).publicPem())
                       .toUtf8());
    }
};

}  // namespace

const AppTestFolders& appTestFolders() {
    return folders;
}

QString appTestPrivateKey() {
    return testKey(2048).privatePem();
}

int main(int argc, char** argv) {
    // The HID backend and the settings folder are chosen once per process: set both first.
    TempDir base;
    folders.base = QString::fromStdString(base.path());
    QDir().mkpath(folders.sockets());
    setenv("LUMORA_HID_SOCKET_DIR", qPrintable(folders.sockets()), 1);
    setenv("XDG_CONFIG_DIRS", qPrintable(folders.config()), 1);
    setenv("LUMORA_DEBUG_LOG", qPrintable(folders.base + "/debug.log"), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The reader's clock shows month names of the system locale.
    setenv("LC_ALL", "C", 1);
    // Saved files are named by the UTC time: a local time must show, so not UTC (+05:45).
    setenv("TZ", "Asia/Kathmandu", 1);
    // Build machines have no OpenGL.
    setenv("QT_QUICK_BACKEND", "software", 1);

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    applySettingsPathFromEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new KeyAndSettings);
    return RUN_ALL_TESTS();
}
