#include "export/download_worker.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <utility>

#include "client/device_client.h"
#include "export/download_document.h"
#include "export/download_save.h"
#include "protocol/aap_codes.h"

namespace {

const char kReaderGone[] = QT_TRANSLATE_NOOP(
    "DownloadWorker",
    "The reader was disconnected before the download finished. Nothing was saved.");

int countOf(const QJsonArray& records) {
    return records.size();
}
int countOf(const DeviceClient::RecordsJson& records) {
    return records.count;
}

}  // namespace

void DownloadWorker::cancelThrough(quint64 issued) {
    // The mark first: a download that starts meanwhile resumes the client before it reads it.
    cancelledThrough_.store(issued);
    DeviceClient::instance()->cancelRequests();
}

void DownloadWorker::doDownload() {
    DeviceClient& client = *DeviceClient::instance();
    client.resumeRequests();
    const quint64 number = ++started_;
    // Every outcome is checked: once the reader is gone the rest would return empty.
    auto failed = [&](RequestOutcome outcome) {
        if (outcome == RequestOutcome::cancelled || number <= cancelledThrough_.load()) {
            emit downloadCancelled();
            return true;
        }
        switch (outcome) {
            case RequestOutcome::answered:
                return false;
            case RequestOutcome::notAnswering:
            case RequestOutcome::unreadableReply:
                emit readerNotAnswering();
                return true;
            case RequestOutcome::cancelled:
            case RequestOutcome::noReader:
                break;
        }
        emit downloadAborted(tr(kReaderGone));
        return true;
    };
    auto table = [&](const QString& name, auto request) {
        emit tableStarted(name);
        auto records = request();
        if (records.answered()) {
            emit tableFinished(name, countOf(records.value));
        }
        return records;
    };

    // A download cancelled while it was queued ends before its first request.
    if (failed(RequestOutcome::answered) || failed(client.requestSchema()) ||
        failed(client.requestConfigurationSchema())) {
        return;
    }
    auto records = table(QStringLiteral("table 6"),
                         [&] { return client.requestDatabaseRecordsJson(kAAPRecordsTable); });
    if (failed(records.outcome)) {
        return;
    }
    if (records.value.count == 0) {
        emit resultsReady(QByteArray(), QString());
        return;
    }
    const auto factory = table(QStringLiteral("calibration"), [&] {
        return client.requestCalibrationConfig(kAAPCalibrationConfig);
    });
    if (failed(factory.outcome)) {
        return;
    }
    auto events = table(QStringLiteral("table 7"),
                        [&] { return client.requestDatabaseRecordsJson(kAAPEventsTable); });
    if (failed(events.outcome)) {
        return;
    }
    const QString sensorId = sensorIdOf(records.value.first);
    // Each array's text is let go as soon as it is in the document.
    const QByteArray document =
        buildDownloadDocument(std::exchange(records.value.array, {}),
                              QJsonDocument(factory.value).toJson(QJsonDocument::Compact),
                              std::exchange(events.value.array, {}), currentHostDateTime());
    emit resultsReady(document, sensorId);
}

void DownloadWorker::readArrival() {
    DeviceClient& client = *DeviceClient::instance();
    client.resumeRequests();
    const RequestResult<QString> serial = client.requestSerialNumber();
    if (serial.outcome == RequestOutcome::notAnswering ||
        serial.outcome == RequestOutcome::unreadableReply) {
        emit readerNotAnswering();
        return;
    }
    if (!serial.answered()) {
        return;
    }
    emit serialNumberReady(serial.value);
    const RequestResult<DeviceClient::ReaderClock> clock = client.requestDateTime();
    if (clock.outcome == RequestOutcome::notAnswering) {
        emit readerNotAnswering();
        return;
    }
    if (clock.answered()) {
        emit readerClockReady(clock.value.text, clock.value.wallClock);
    }
}
