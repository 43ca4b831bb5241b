// DownloadWorker: the window's and lumora-download's requests to the reader, off the GUI thread.
// A download asks the device client, in this order, for the schema, the configuration schema,
// the records of table 6 and, only when table 6 has records, the calibration configuration 1
// and the records of table 7. An arrival asks for the serial number, then the clock.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <atomic>

// Lives on the mediator's "download-worker" thread; its slots block that thread while the
// reader answers. Parentless; it keeps only the count of its downloads, so it is ready for the
// next job whatever ended the last one.
class DownloadWorker : public QObject {
    Q_OBJECT

public:
    // Cancels the downloads numbered up to issued (counted from 1 in the order they were asked
    // for), queued or running: a running one ends at once with downloadCancelled, a queued one
    // emits it as it starts. Also ends an arrival's request that runs. Any thread.
    void cancelThrough(quint64 issued);

signals:
    // The finished document in its saved form (buildDownloadDocument), or empty when table 6
    // has no records; with the sensor id of its first record (sensorIdOf), null when it has
    // none.
    void resultsReady(QByteArray results, QString sensorId);
    // The download could not finish (the reader went away, or none was adopted); nothing was
    // downloaded that could be saved. reason is a message for the user.
    void downloadAborted(QString reason);
    // A request of a download or an arrival got no answer progress for three repeat periods;
    // the job ended there and nothing was saved.
    void readerNotAnswering();
    // The download was cancelled; nothing was downloaded that could be saved.
    void downloadCancelled();
    // A table's request starts ("table 6", "calibration", "table 7"), and ends with count records.
    void tableStarted(QString table);
    void tableFinished(QString table, int count);
    // The arrival's answers, each as soon as it is in; the clock as its text and its wall-clock
    // fields (invalid for a date the reader cannot have).
    void serialNumberReady(QString serialNumber);
    void readerClockReady(QString clock, QDateTime wallClock);

public slots:
    // Runs one download and emits exactly one of resultsReady, downloadAborted,
    // readerNotAnswering and downloadCancelled at its end.
    void doDownload();
    // Asks a reader that arrived for its serial number and clock; emits serialNumberReady and
    // readerClockReady, or stops at readerNotAnswering, or quietly when the reader went away.
    void readArrival();

private:
    quint64 started_ = 0;  // downloads begun; the worker's thread only
    std::atomic<quint64> cancelledThrough_{0};
};
