// The window tests' process: Qt without a display, a temporary reader folder and settings, and
// an RSA key pair made for the run.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>

#include "app_test_support.h"
#include "export/settings_path.h"
#include "export_test_support.h"
#include "temp_dir.h"
#include "tests/support/test_platform.h"

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

int main(int argc, char** argv) {
    // The HID backend and the settings folder are chosen once per process: set both first.
    TempDir base;
    // Forward slashes: a backslash starts an escape in the settings file.
    folders.base = QDir::fromNativeSeparators(QString::fromStdString(base.path()));
    QDir().mkpath(folders.sockets());
    TestSetEnv("LUMORA_HID_SOCKET_DIR", qPrintable(folders.sockets()));
    TestSetEnv("XDG_CONFIG_DIRS", qPrintable(folders.config()));
    TestSetEnv("LUMORA_DEBUG_LOG", qPrintable(folders.base + "/debug.log"));
    TestSetEnv("XDG_STATE_HOME", qPrintable(folders.base));  // never the real home's log
    TestSetEnv("LOCALAPPDATA", qPrintable(QDir::toNativeSeparators(folders.base)));
    // A Windows Qt built without FreeType has no offscreen platform; minimal serves there.
    const QDir platforms(QLibraryInfo::location(QLibraryInfo::PluginsPath) + "/platforms");
    const bool offscreen = !platforms.entryList({"*qoffscreen*"}).isEmpty();
    TestSetEnv("QT_QPA_PLATFORM", offscreen ? "offscreen" : "minimal");
    // The reader's clock shows month names of the system locale.
    TestSetEnv("LC_ALL", "C");
    // Saved files are named by the UTC time: a local time must show, so not UTC (+05:45).
    TestSetEnv("TZ", "Asia/Kathmandu");
    // Build machines have no OpenGL.
    TestSetEnv("QT_QUICK_BACKEND", "software");
    // Messages of a Windows window program would go to the debugger output.
    TestSetEnv("QT_FORCE_STDERR_LOGGING", "1");

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    applySettingsPathFromEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new KeyAndSettings);
    return RUN_ALL_TESTS();
}
