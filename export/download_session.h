// DownloadSession: a reader's visit from plug-in to saved file, without any user interface: the
// arrival's serial number and clock, the wait while a reader is plugged in that this user may
// not open, the download, the file's name and its save. The window and lumora-download show what
// it says and decide nothing themselves.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "export/download_mediator.h"
#include "export/file_util.h"

// Lives on the thread that creates it (the GUI thread, or lumora-download's main thread) and is
// called only there. It owns its FileUtil and its mediator, whose worker asks the reader on the
// "download-worker" thread; deleting the session cancels a running request and joins that
// thread.
class DownloadSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString accessProblem READ accessProblem NOTIFY accessProblemChanged)
    Q_PROPERTY(QString serialNumber READ serialNumber NOTIFY serialNumberChanged)
    Q_PROPERTY(QString readerClock READ readerClock NOTIFY readerClockChanged)
    Q_PROPERTY(QString clockWarning READ clockWarning NOTIFY readerClockChanged)
    Q_PROPERTY(QString sensorId READ sensorId NOTIFY sensorIdChanged)
    Q_PROPERTY(int recordCount READ recordCount NOTIFY recordCountChanged)
    Q_PROPERTY(QString savedPath READ savedPath NOTIFY savedPathChanged)
    Q_PROPERTY(QString savedUrl READ savedUrl NOTIFY savedPathChanged)
    Q_PROPERTY(QString savedFolderUrl READ savedFolderUrl NOTIFY savedPathChanged)

public:
    enum State {
        WaitingForReader,  // at start, and once a reader that was refused may be opened
        AccessDenied,      // a reader is plugged in that this user may not open: accessProblem
        Arriving,          // asking the reader for its serial number, then its clock
        Ready,             // both answered: a download may start
        Downloading,       // downloads queued or running
        ReaderSilent,      // plugged in but not answering; nothing more until plugged in again
        ReaderRemoved,
    };
    Q_ENUM(State)
    // How a job ended without a saved file; failed's detail says more where noted.
    enum Failure {
        SetupUnusable,  // detail: the settings, key or folder problem with its fix; nothing asked
        NoData,         // table 6 holds no records
        NoSensorId,     // detail: a message; the document names no sensor, so it has no folder
        NotSaved,       // fileProblem has said why
        ReaderGone,     // removed; detail: the download's reason, empty during the arrival
        NotAnswering,   // a request of the arrival or the download got no answer: ReaderSilent
        Cancelled,      // cancel ended the downloads; nothing was saved
    };
    Q_ENUM(Failure)

    // Connects to the device client (created here when it does not exist yet, so on this thread)
    // and starts the worker thread and the access check.
    explicit DownloadSession(QObject* parent = nullptr);

    State state() const { return state_; }
    // Why the reader that is plugged in may not be opened, naming it and the fix; empty unless
    // AccessDenied. Checked every second while no reader is present.
    QString accessProblem() const { return accessProblem_; }
    // The reader's answers to the arrival, kept after its removal until the next reader answers.
    QString serialNumber() const { return serialNumber_; }
    QString readerClock() const { return readerClock_; }
    // How far the reader's clock is off this computer's, when by more than 5 minutes
    // (readerClockWarning, when the clock answered); else empty.
    QString clockWarning() const { return clockWarning_; }
    // The sensor of the last download that named one; cleared when the reader goes.
    QString sensorId() const { return sensorId_; }
    // Records of the table being received; -1 until the first count of a download.
    int recordCount() const { return recordCount_; }
    // The last saved file: its path as the platform writes it, its URL and its folder's URL.
    QString savedPath() const;
    QString savedUrl() const;
    QString savedFolderUrl() const;

    // The first set-up problem that would spoil a download (FileUtil::setupProblem), or empty.
    Q_INVOKABLE QString setupProblem() { return files_.setupProblem(); }
    // Starts a download, queued behind one that runs, and returns true with downloadStarted; or,
    // when the set-up is unusable, fails with SetupUnusable at once and returns false. Does
    // nothing and returns false unless Ready or Downloading.
    Q_INVOKABLE bool download();
    // Cancels the downloads queued or running: the reader is asked for nothing more, whatever
    // it still sends is dropped and nothing is saved. Once the worker has let go of all of them,
    // failed says Cancelled, and the state is Ready again unless the reader went. Does nothing
    // unless Downloading.
    Q_INVOKABLE void cancel();
    FileUtil& files() { return files_; }

signals:
    void stateChanged();
    void accessProblemChanged();
    void serialNumberChanged();
    void readerClockChanged();
    void sensorIdChanged();
    void recordCountChanged();
    void savedPathChanged();
    void downloadStarted();
    // A table's download starts ("table 6", "calibration", "table 7"), and ends with count records.
    void tableStarted(const QString& table);
    void tableFinished(const QString& table, int count);
    // path as savedPath gives it.
    void saved(const QString& path);
    void failed(DownloadSession::Failure failure, const QString& detail);
    // A message for the user from FileUtil, said while saving (NotSaved follows).
    void fileProblem(const QString& message);

private:
    void setState(State state);
    void checkAccess();
    void readerArrived();
    void readerRemoved();
    void clockAnswered(const QString& clock, const QDateTime& wallClock);
    void notAnswering();
    // Ends one download's part in the state; the outcome's signals follow.
    void downloadEnded();
    // Counts off an outcome of a cancelled download, the last one with Cancelled; false when
    // none is cancelled, and the outcome is the download's own.
    bool cancelledEnded();
    void save(const QByteArray& document, const QString& sensorId);

    State state_ = WaitingForReader;
    QString accessProblem_;
    QString serialNumber_;
    QString readerClock_;
    QString clockWarning_;
    QString sensorId_;
    int recordCount_ = -1;
    QString savedPath_;
    int downloads_ = 0;  // queued or running
    int cancelled_ = 0;  // of those, the cancelled ones: their outcomes come first
    FileUtil files_;
    QTimer accessCheck_;
    // Last, so that its thread is joined before the rest goes.
    DownloadMediator mediator_;
};
