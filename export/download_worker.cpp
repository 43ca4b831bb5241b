#include "export/download_worker.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <utility>

#include "client/device_client.h"
#include "export/download_document.h"
#include "export/download_save.h"
#include "protocol/aap_codes.h"

namespace {

const char kReaderGone[] =
    "The reader was disconnected before the download finished. Nothing was saved.";

int countOf(const QJsonArray& records) {
    return records.size();
}
int countOf(const DeviceClient::RecordsJson& records) {
    return records.count;
}

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
            case DeviceClient::Outcome::unreadableReply:
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
        auto records = request();
        if (client.lastRequestAnswered()) {
            emit tableFinished(name, countOf(records));
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
    DeviceClient::RecordsJson records = table(QStringLiteral("table 6"), [&] {
        return client.requestDatabaseRecordsJson(kAAPRecordsTable);
    });
    if (failed()) {
        return;
    }
    if (records.count == 0) {
        emit resultsReady(QByteArray(), QString());
        return;
    }
    const QJsonArray factory = table(QStringLiteral("calibration"), [&] {
        return client.requestCalibrationConfig(kAAPCalibrationConfig);
    });
    if (failed()) {
        return;
    }
    DeviceClient::RecordsJson events = table(QStringLiteral("table 7"), [&] {
        return client.requestDatabaseRecordsJson(kAAPEventsTable);
    });
    if (failed()) {
        return;
    }
    const QString sensorId = sensorIdOf(records.first);
    // Each array's text is let go as soon as it is in the document.
    const QByteArray document = buildDownloadDocument(
        std::exchange(records.array, {}), QJsonDocument(factory).toJson(QJsonDocument::Compact),
        std::exchange(events.array, {}), currentHostDateTime());
    emit resultsReady(document, sensorId);
}

void DownloadWorker::readArrival() {
    DeviceClient& client = *DeviceClient::instance();
    const QString serial = client.requestSerialNumber();
    if (client.lastRequestOutcome() == DeviceClient::Outcome::notAnswering ||
        client.lastRequestOutcome() == DeviceClient::Outcome::unreadableReply) {
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
