// Prints the "hostDateTime" object for a local time (argument, yyyy-MM-ddTHH:mm:ss) in the
// system time zone, as a download builds it. The tests run it with TZ set, one zone per process.
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QTimeZone>
#include <cstdio>

#include "export/download_document.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QDateTime local = QDateTime::fromString(app.arguments().value(1), Qt::ISODate);
    if (!local.isValid() || local.timeSpec() != Qt::LocalTime) {
        std::fputs("usage: lumora_host_time_probe yyyy-MM-ddTHH:mm:ss\n", stderr);
        return 2;
    }
    const QByteArray json =
        QJsonDocument(hostDateTime(local, QTimeZone::systemTimeZone())).toJson();
    std::fwrite(json.constData(), 1, json.size(), stdout);
    return 0;
}
