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
    const QJsonArray records = client.requestDatabaseRecords(6);
    if (readerGone()) {
        return;
    }
    if (records.isEmpty()) {
        emit resultsReady(QString());
        return;
    }
    const QJsonArray factory = client.requestCalibrationConfig(1);
    if (readerGone()) {
        return;
    }
    const QJsonArray events = client.requestDatabaseRecords(7);
    if (readerGone()) {
        return;
    }
    emit resultsReady(buildDownloadDocument(records, factory, events, currentHostDateTime()));
}
