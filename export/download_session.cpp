#include "export/download_session.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "client/device_client.h"
#include "export/download_save.h"
#include "export/file_url.h"
#include "export/reader_clock_check.h"

namespace {

constexpr int kAccessCheckMs = 1000;

}  // namespace

DownloadSession::DownloadSession(QObject* parent) : QObject(parent) {
    DeviceClient* const client = DeviceClient::instance();
    // The client's signals come from the transport's event thread: queued onto this one.
    connect(client, &DeviceClient::onConnected, this, &DownloadSession::readerArrived);
    connect(client, &DeviceClient::onDisconnected, this, &DownloadSession::readerRemoved);
    connect(client, &DeviceClient::onRecordCount, this, [this](int count) {
        recordCount_ = count;
        emit recordCountChanged();
    });
    connect(&mediator_, &DownloadMediator::onSerialNumber, this, [this](const QString& serial) {
        serialNumber_ = serial;
        emit serialNumberChanged();
    });
    connect(&mediator_, &DownloadMediator::onReaderClock, this, &DownloadSession::clockAnswered);
    connect(&mediator_, &DownloadMediator::onReaderNotAnswering, this,
            &DownloadSession::notAnswering);
    connect(&mediator_, &DownloadMediator::onTableStarted, this, &DownloadSession::tableStarted);
    connect(&mediator_, &DownloadMediator::onTableFinished, this, &DownloadSession::tableFinished);
    connect(&mediator_, &DownloadMediator::onResultsReady, this, &DownloadSession::save);
    connect(&mediator_, &DownloadMediator::onDownloadCancelled, this,
            &DownloadSession::cancelledEnded);
    connect(&mediator_, &DownloadMediator::onDownloadAborted, this, [this](const QString& reason) {
        if (cancelledEnded()) {
            return;
        }
        // The reader is gone; its removal, from another thread, may come before or after this.
        downloads_ = std::max(downloads_ - 1, 0);
        if (state_ == Downloading) {
            readerRemoved();
        }
        emit failed(ReaderGone, reason);
    });
    connect(&files_, &FileUtil::raiseErrorMessage, this, &DownloadSession::fileProblem);
    connect(&accessCheck_, &QTimer::timeout, this, &DownloadSession::checkAccess);
    accessCheck_.start(kAccessCheckMs);
}

QString DownloadSession::savedPath() const {
    return QDir::toNativeSeparators(savedPath_);
}

QString DownloadSession::savedUrl() const {
    return localFileUrl(savedPath_);
}

QString DownloadSession::savedFolderUrl() const {
    return savedPath_.isEmpty() ? QString() : localFileUrl(QFileInfo(savedPath_).absolutePath());
}

bool DownloadSession::download() {
    // Only a reader that has answered the arrival is asked for its data.
    if (state_ != Ready && state_ != Downloading) {
        return false;
    }
    const QString problem = setupProblem();
    if (!problem.isEmpty()) {
        emit failed(SetupUnusable, problem);
        return false;
    }
    ++downloads_;
    recordCount_ = -1;
    emit recordCountChanged();
    setState(Downloading);
    emit downloadStarted();
    emit mediator_.beginDownload();
    return true;
}

void DownloadSession::cancel() {
    if (state_ != Downloading || cancelled_ == downloads_) {
        return;
    }
    cancelled_ = downloads_;
    mediator_.cancel();
}

// The worker emits one outcome per download, in order: a download that ended before the cancel
// reached it may still say it finished, and is dropped all the same.
bool DownloadSession::cancelledEnded() {
    if (cancelled_ == 0) {
        return false;
    }
    downloadEnded();
    if (--cancelled_ == 0) {
        emit failed(Cancelled, QString());
    }
    return true;
}

void DownloadSession::setState(State state) {
    if (state_ != state) {
        state_ = state;
        emit stateChanged();
    }
}

// The HID layer gives up on a reader it may not open; without this the window would go on
// asking the user to plug in the reader that is plugged in.
void DownloadSession::checkAccess() {
    const QString problem = DeviceClient::instance()->readerAccessProblem();
    if (problem != accessProblem_) {
        accessProblem_ = problem;
        emit accessProblemChanged();
    }
    if (!problem.isEmpty()) {
        setState(AccessDenied);
    } else if (state_ == AccessDenied) {
        setState(WaitingForReader);
    }
}

void DownloadSession::readerArrived() {
    accessCheck_.stop();
    if (!accessProblem_.isEmpty()) {
        accessProblem_.clear();
        emit accessProblemChanged();
    }
    setState(Arriving);
    emit mediator_.beginArrival();
}

void DownloadSession::readerRemoved() {
    const bool arriving = state_ == Arriving;
    sensorId_.clear();
    emit sensorIdChanged();
    setState(ReaderRemoved);
    accessCheck_.start(kAccessCheckMs);
    // A download that the removal cuts short says so itself, through the worker.
    if (arriving) {
        emit failed(ReaderGone, QString());
    }
}

// An answer queued behind the reader's removal readies nothing.
void DownloadSession::clockAnswered(const QString& clock, const QDateTime& wallClock) {
    if (state_ != Arriving) {
        return;
    }
    readerClock_ = clock;
    clockWarning_ = readerClockWarning(wallClock, QDateTime::currentDateTime());
    emit readerClockChanged();
    setState(Ready);
}

void DownloadSession::notAnswering() {
    if (cancelledEnded()) {
        return;
    }
    downloads_ = std::max(downloads_ - 1, 0);
    setState(ReaderSilent);
    emit failed(NotAnswering, QString());
}

void DownloadSession::downloadEnded() {
    downloads_ = std::max(downloads_ - 1, 0);
    if (downloads_ == 0 && state_ == Downloading) {
        setState(Ready);
    }
}

void DownloadSession::save(const QByteArray& document, const QString& sensorId) {
    if (cancelledEnded()) {
        return;
    }
    downloadEnded();
    if (document.isEmpty()) {
        emit failed(NoData, QString());
        return;
    }
    // The id is the folder's and the file's name: a document without one cannot be saved.
    if (sensorId.isEmpty()) {
        emit failed(NoSensorId, tr("The download holds no sensor id (text member \"90\" of its "
                                   "first record); nothing was saved."));
        return;
    }
    sensorId_ = sensorId;
    emit sensorIdChanged();
    const QString path = saveDownload(files_, document, sensorId, QDateTime::currentDateTimeUtc());
    if (path.isEmpty()) {
        emit failed(NotSaved, QString());
        return;
    }
    savedPath_ = path;
    emit savedPathChanged();
    emit saved(savedPath());
}
