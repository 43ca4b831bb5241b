#include "export/download_worker.h"

#include <QJsonArray>

#include "client/device_client.h"
#include "export/download_document.h"

namespace {

const char kReaderGone[] =
    "The reader was disconnected before the download finished. Nothing was saved.";

}  // namespace

void DownloadWorker::doDownload() {
    DeviceClient& client = *DeviceClient::instance();
    // An empty answer and a request cut short by the reader's removal or silence look alike;
    // checked after every request, as once the reader is gone the rest would return empty.
    auto failed = [&] {
        switch (client.lastRequestOutcome()) {
            case DeviceClient::Outcome::answered:
                return false;
            case DeviceClient::Outcome::notAnswering:
                emit readerNotAnswering();
                return true;
            case DeviceClient::Outcome::noReader:
                break;
        }
        emit downloadAborted(QString::fromLatin1(kReaderGone));
        return true;
    };
    auto table = [&](const QString& name, auto request) {
        emit tableStarted(name);
        const QJsonArray records = request();
        if (client.lastRequestAnswered()) {
            emit tableFinished(name, records.size());
        }
        return records;
    };

    client.requestSchema();
    if (failed()) {
        return;
    }
    client.requestConfigurationSchema();
    if (failed()) {
        return;
    }
    const QJsonArray records =
        table(QStringLiteral("table 6"), [&] { return client.requestDatabaseRecords(6); });
    if (failed()) {
        return;
    }
    if (records.isEmpty()) {
        emit resultsReady(QString());
        return;
    }
    const QJsonArray factory =
        table(QStringLiteral("calibration"), [&] { return client.requestCalibrationConfig(1); });
    if (failed()) {
        return;
    }
    const QJsonArray events =
        table(QStringLiteral("table 7"), [&] { return client.requestDatabaseRecords(7); });
    if (failed()) {
        return;
    }
    emit resultsReady(buildDownloadDocument(records, factory, events, currentHostDateTime()));
}

void DownloadWorker::readArrival() {
    DeviceClient& client = *DeviceClient::instance();
    const QString serial = client.requestSerialNumber();
    if (client.lastRequestOutcome() == DeviceClient::Outcome::notAnswering) {
        emit readerNotAnswering();
        return;
    }
    if (!client.lastRequestAnswered()) {
        return;
    }
    emit serialNumberReady(serial);
    const QString clock = client.requestDateTime();
    if (client.lastRequestOutcome() == DeviceClient::Outcome::notAnswering) {
        emit readerNotAnswering();
        return;
    }
    if (client.lastRequestAnswered()) {
        emit readerClockReady(clock);
    }
}
