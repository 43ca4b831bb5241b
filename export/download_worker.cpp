#include "export/download_worker.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <utility>

#include "client/device_client.h"
#include "export/download_document.h"
#include "export/download_save.h"

namespace {

const char kReaderGone[] =
    "The reader was disconnected before the download finished. Nothing was saved.";

}  // namespace

void DownloadWorker::doDownload() {
    DeviceClient& client = *DeviceClient::instance();
    // An empty answer and a request cut short by the reader's removal look alike; checked after
    // every request, as once the reader is gone the rest would return empty at once.
    auto readerGone = [&] {
        if (client.lastRequestAnswered()) {
            return false;
        }
        emit downloadAborted(QString::fromLatin1(kReaderGone));
        return true;
    };

    client.requestSchema();
    if (readerGone()) {
        return;
    }
    client.requestConfigurationSchema();
    if (readerGone()) {
        return;
    }
    DeviceClient::RecordsJson records = client.requestDatabaseRecordsJson(6);
    if (readerGone()) {
        return;
    }
    if (records.count == 0) {
        emit resultsReady(QByteArray(), QString());
        return;
    }
    const QJsonArray factory = client.requestCalibrationConfig(1);
    if (readerGone()) {
        return;
    }
    DeviceClient::RecordsJson events = client.requestDatabaseRecordsJson(7);
    if (readerGone()) {
        return;
    }
    const QString sensorId = sensorIdOf(records.first);
    // Each array's text is let go as soon as it is in the document.
    const QByteArray document = buildDownloadDocument(
        std::exchange(records.array, {}), QJsonDocument(factory).toJson(QJsonDocument::Compact),
        std::exchange(events.array, {}), currentHostDateTime());
    emit resultsReady(document, sensorId);
}
