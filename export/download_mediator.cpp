#include "export/download_mediator.h"

DownloadMediator::DownloadMediator(QObject* parent)
    : QObject(parent), worker_(std::make_unique<DownloadWorker>()) {
    thread_.setObjectName(QStringLiteral("download-worker"));
    worker_->moveToThread(&thread_);
    // Direct, so counted here as it is emitted.
    connect(this, &DownloadMediator::beginDownload, this, [this] { ++issued_; });
    connect(this, &DownloadMediator::beginDownload, worker_.get(), &DownloadWorker::doDownload);
    connect(worker_.get(), &DownloadWorker::resultsReady, this, &DownloadMediator::handleResults);
    connect(worker_.get(), &DownloadWorker::downloadAborted, this,
            &DownloadMediator::handleAborted);
    connect(this, &DownloadMediator::beginArrival, worker_.get(), &DownloadWorker::readArrival);
    // Signal to signal: queued onto this object's thread.
    connect(worker_.get(), &DownloadWorker::serialNumberReady, this,
            &DownloadMediator::onSerialNumber);
    connect(worker_.get(), &DownloadWorker::readerClockReady, this,
            &DownloadMediator::onReaderClock);
    connect(worker_.get(), &DownloadWorker::readerNotAnswering, this,
            &DownloadMediator::onReaderNotAnswering);
    connect(worker_.get(), &DownloadWorker::downloadCancelled, this,
            &DownloadMediator::onDownloadCancelled);
    connect(worker_.get(), &DownloadWorker::tableStarted, this, &DownloadMediator::onTableStarted);
    connect(worker_.get(), &DownloadWorker::tableFinished, this,
            &DownloadMediator::onTableFinished);
    thread_.start();
}

DownloadMediator::~DownloadMediator() {
    worker_->cancelThrough(issued_);
    thread_.quit();
    thread_.wait();
}

void DownloadMediator::cancel() {
    worker_->cancelThrough(issued_);
}

void DownloadMediator::handleResults(QByteArray results, QString sensorId) {
    emit onResultsReady(results, sensorId);
}

void DownloadMediator::handleAborted(QString reason) {
    emit onDownloadAborted(reason);
}
