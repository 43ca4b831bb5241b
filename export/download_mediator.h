// DownloadMediator: the download session's way to its worker. It owns the worker and its thread
// and hands the worker's answers over to its own thread.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

#include "export/download_worker.h"

// Lives on the thread that creates it (the GUI thread); its worker lives on the "download-worker"
// thread that it owns.
class DownloadMediator : public QObject {
    Q_OBJECT
public:
    // Creates the worker, moves it to the thread and starts the thread.
    explicit DownloadMediator(QObject* parent = nullptr);
    // Cancels what the worker runs, ends the thread's event loop and waits until the thread has
    // ended: a request under way ends at once, so closing never waits for the reader.
    ~DownloadMediator() override;

    // Cancels every download asked for so far, queued or running; each ends with
    // onDownloadCancelled.
    void cancel();

signals:
    // Starts a download on the worker thread; one emitted while a download runs is queued, so
    // downloads never overlap.
    void beginDownload();
    // The finished document in its saved form, or empty when the sensor had no data, and the
    // sensor id (trimmed; empty when the document names none). Implicitly shared: QML holds
    // the document without a copy and hands it back to FileUtil.write as it is.
    void onResultsReady(QByteArray results, QString sensorId);
    // A download that could not finish because the reader went away; nothing to save.
    void onDownloadAborted(QString reason);
    // Asks an arriving reader for its serial number and clock on the worker thread; the answers
    // come as onSerialNumber and onReaderClock.
    void beginArrival();
    void onSerialNumber(QString serialNumber);
    void onReaderClock(QString clock, QDateTime wallClock);
    // A download or arrival gave up: the reader stays plugged in but does not answer.
    void onReaderNotAnswering();
    void onDownloadCancelled();
    // A table's download starts, and ends with count records.
    void onTableStarted(QString table);
    void onTableFinished(QString table, int count);

public slots:
    void handleResults(QByteArray results, QString sensorId);
    void handleAborted(QString reason);

private:
    quint64 issued_ = 0;  // beginDownload emitted
    std::unique_ptr<DownloadWorker> worker_;
    QThread thread_;
};
