// Qt's file, settings and process classes want an application object.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "tests/support/test_platform.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // A log that a program started here keeps never lands in the real home.
    const QTemporaryDir state;
    TestSetEnv("XDG_STATE_HOME", qPrintable(state.path()));
    TestSetEnv("LOCALAPPDATA", qPrintable(QDir::toNativeSeparators(state.path())));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
