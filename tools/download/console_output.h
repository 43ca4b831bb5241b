// What lumora-download writes where: standard output holds only its results, progress goes to
// standard error, traces to the log file and, with --verbose, to standard error too.
// Everything here runs on the program's main thread.
#pragma once

#include <QElapsedTimer>
#include <QString>

// Standard output and error carry UTF-8 text; a Windows console is told to show it so.
void useUtf8Console();

// Keeps the log file (the support log, or the file LUMORA_DEBUG_LOG names), Qt's messages
// through it, and sends it to standard error too when verbose. Call before the first trace.
void routeTraces(bool verbose);

// Text from the reader as it may reach a terminal: backslash, control and format characters
// escaped (\n, \x1b, \u202e, \\), nothing left out.
QString printableReaderText(const QString& text);

// Progress on standard error: on a terminal one updating line per table that ends with its
// final count; elsewhere a line when the table ends and one every 10 s while it is long.
class Progress {
public:
    explicit Progress(bool terminal) : terminal_(terminal) {}
    void start(const QString& table);
    void count(int records);
    void finish(const QString& table, int records);
    // Ends an updating line that a failure interrupts.
    void interrupt();

private:
    const bool terminal_;
    QString table_;  // the table being received; empty between tables
    QElapsedTimer lastLine_;
};
