// The log of the window and lumora-download: the lines that start each file, and Qt's messages
// (QML's console.log too) routed into it. A log that cannot be written stops nothing.
#pragma once

#include <QString>

// The program and its version, the OS, Qt's and OpenSSL's versions and the local time with its
// offset from UTC: a line each.
QString supportLogHeader(const QString& program);

// Keeps the support log (unless LUMORA_DEBUG_LOG names a file), started with supportLogHeader,
// and routes Qt's messages to the log. Main thread, before the first trace.
void startSupportLog(const QString& program);

// The log file being written and its folder, with the OS's separators; empty when none.
QString supportLogFile();
QString supportLogFolder();
