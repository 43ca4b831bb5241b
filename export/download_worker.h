// DownloadWorker: one download from the reader into the JSON document. Asks the device client,
// in this order, for the schema, the configuration schema, the records of table 6 and, only when
// table 6 has records, the calibration configuration 1 and the records of table 7.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Lives on the mediator's "download-worker" thread; doDownload blocks that thread while the
// reader answers. Parentless and stateless, so it is ready for the next download whatever
// ended the last one.
class DownloadWorker : public QObject {
    Q_OBJECT

signals:
    // The finished document in its saved form (buildDownloadDocument), or empty when table 6
    // has no records; with the sensor id of its first record (sensorIdOf), null when it has
    // none.
    void resultsReady(QByteArray results, QString sensorId);
    // The download could not finish (the reader went away, or none was adopted); nothing was
    // downloaded that could be saved. reason is a message for the user.
    void downloadAborted(QString reason);

public slots:
    // Runs one download and emits exactly one of resultsReady and downloadAborted at its end.
    // Blocks for as long as the reader takes to answer; a request the reader never answers is
    // repeated by the device client.
    void doDownload();
};
