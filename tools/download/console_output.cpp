#include "tools/download/console_output.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <QtGlobal>
#include <cstdio>

#include "export/support_log.h"
#include "platform/debug_log.h"

namespace {

constexpr qint64 kProgressEveryMs = 10000;

QString counted(int records) {
    return records == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(records);
}

}  // namespace

void useUtf8Console() {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
}

void routeTraces(bool verbose) {
    // The log file is kept with --verbose too: a failure watched on a terminal still leaves the
    // file that support asks for, and the two never differ in what they hold.
    if (verbose) {
        DebugLogToStandardError();
    }
    startSupportLog(QStringLiteral("lumora-download"));
}

QString printableReaderText(const QString& text) {
    QString shown;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (c == '\\') {
            shown += QLatin1String("\\\\");
        } else if (c == '\n' || c == '\r' || c == '\t') {
            shown += c == '\n'   ? QLatin1String("\\n")
                     : c == '\r' ? QLatin1String("\\r")
                                 : QLatin1String("\\t");
        } else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                   c.category() == QChar::Separator_Line ||
                   c.category() == QChar::Separator_Paragraph) {
            shown += u < 0x100 ? QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'))
                               : QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown;
}

void Progress::start(const QString& table) {
    table_ = table;
    lastLine_.start();
}

void Progress::count(int records) {
    if (table_.isEmpty()) {
        return;
    }
    if (terminal_) {
        std::fprintf(stderr, "\rlumora-download: %s: %s", qUtf8Printable(table_),
                     qUtf8Printable(counted(records)));
    } else if (lastLine_.hasExpired(kProgressEveryMs)) {
        std::fprintf(stderr, "lumora-download: %s: %s so far\n", qUtf8Printable(table_),
                     qUtf8Printable(counted(records)));
        lastLine_.start();
    }
    std::fflush(stderr);
}

void Progress::finish(const QString& table, int records) {
    std::fprintf(stderr, "%slumora-download: %s: %s\n", terminal_ ? "\r" : "",
                 qUtf8Printable(table), qUtf8Printable(counted(records)));
    std::fflush(stderr);
    table_.clear();
}

void Progress::interrupt() {
    if (terminal_ && !table_.isEmpty()) {
        std::fputs("\n", stderr);
    }
    table_.clear();
}
