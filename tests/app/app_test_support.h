// What the window tests share: the folders and key that main sets up, and waiting.
#pragma once

#include <QString>
#include <QTest>
#include <functional>

#include "export_test_support.h"  // PrintTo for QString, keys and files

// Set up by main before the application exists: the simulated readers' sockets
// (LUMORA_HID_SOCKET_DIR), the settings (XDG_CONFIG_DIRS) and the data folder they name.
struct AppTestFolders {
    QString base;
    QString sockets() const { return base + "/sock"; }
    QString config() const { return base + "/cfg"; }
    QString data() const { return base + "/data/"; }
};
const AppTestFolders& appTestFolders();

// A cap on waits, so that a broken window fails instead of hanging; never a speed target.
constexpr int kPatienceMs = 60000;

// Runs the GUI thread's events until condition holds (true) or the patience has passed (false).
inline bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, kPatienceMs);
}
