// DeviceClient: the one client of the reader. It turns each question into an AAP request or a
// text command, blocks the caller until the answer is complete and returns it as a Qt value with
// the request's outcome; it also sorts everything the reader sends back into those answers.
//
// Threads: created by the first DeviceClient::instance call (main, on the GUI thread) and lives
// on that thread until the process ends. Requests run on their caller's thread (the download
// worker, or lumora-download's main thread, never a window's) and block it. The receiving side
// (readerAttached, readerRemoved, handleTextReply, handleMessage) runs on the transport's event
// thread; it never takes the lock that a request holds while it sends, and emits onConnected and
// onDisconnected there.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <memory>

class AAPMessage;
struct DecodedRecord;

// How a request ended.
enum class RequestOutcome {
    answered,
    noReader,         // none adopted, or removed during the request
    notAnswering,     // no answer progress through kGiveUpPeriods repeat periods
    unreadableReply,  // a text reply that could not be received whole (too long, a NUL)
    cancelled,        // cancelRequests ended it
};

// A request's value with its outcome: an empty value alone does not tell an empty answer from a
// reader that went away or fell silent. The value is empty unless the request was answered.
template <typename T>
struct [[nodiscard]] RequestResult {
    RequestOutcome outcome = RequestOutcome::noReader;
    T value{};
    bool answered() const { return outcome == RequestOutcome::answered; }
};

class DeviceClient : public QObject {
    Q_OBJECT

public:
    // Returns the one client, creating it on the first call (a three-state guard makes creation
    // happen once). Any thread. Never null; the client lives until the process ends, because the
    // transport's event thread may still deliver answers while the process exits.
    static DeviceClient* instance();
    ~DeviceClient() override;

    // Repeat periods without answer progress after which a request gives up.
    static constexpr int kGiveUpPeriods = 3;

    // Requests. Each sends its command (a typed request is followed by type 125) and blocks until
    // an answer to one of its attempts is complete. With no answer progress for 10000 ms it sends
    // again (an answer already arriving is kept and may end it); answers owed to earlier attempts
    // count as progress too. After kGiveUpPeriods silent periods in a row it gives up, empty,
    // with RequestOutcome::notAnswering. The sends run on the client's "reader-sender" thread, so
    // the bound holds while a send still waits for the reader's credit (a send not done by the next
    // repeat is not repeated). It returns at once with an empty result when no reader is adopted,
    // and as soon as the adopted reader is removed during it. Requests of one kind run one at a
    // time. Any thread but the GUI thread of the window, which must never block (so none of them
    // is invokable from QML); on the event thread, which would have to deliver the answer, a
    // request returns at once, empty, as RequestOutcome::noReader.
    RequestResult<QString> requestSerialNumber();
    RequestResult<QString> requestSubjectName();
    // The outcome alone: the schema stays inside the client for record decoding.
    [[nodiscard]] RequestOutcome requestSchema();
    [[nodiscard]] RequestOutcome requestConfigurationSchema();
    // One JSON object per record of table tableId, in arrival order.
    RequestResult<QJsonArray> requestDatabaseRecords(uint8_t tableId);
    // A records answer as text: each record becomes its JSON object's compact text as it
    // arrives, so no record is kept in any other form.
    struct RecordsJson {
        QByteArray array;   // the compact JSON (UTF-8) of requestDatabaseRecords' array
        int count = 0;      // records in it
        QJsonObject first;  // the first record's object; empty when there is none
    };
    // As requestDatabaseRecords, as text. The client gives its copy away: the answer is not
    // kept once returned.
    RequestResult<RecordsJson> requestDatabaseRecordsJson(uint8_t tableId);
    // Adds one record to records as it arrives: a comma after an earlier one, then the very text
    // Qt writes for buildJsonObject's object inside the whole array. Any thread.
    static void appendRecord(RecordsJson& records, const DecodedRecord& record);
    // The reader's clock: text as "dd MMM yyyy HH:mm:ss", month named by the system locale, from
    // the wall-clock fields the reader sent (no time zone applies); fields that are no date or
    // time come back raw as "yyyy-MM-dd HH:mm:ss" numbers.
    struct ReaderClock {
        QString text;
        QDateTime wallClock;  // readerClockDateTime of the fields
    };
    RequestResult<ReaderClock> requestDateTime();
    // The configuration record id; completes only once some database-record answer has ended.
    RequestResult<QJsonArray> requestCalibrationConfig(uint8_t id);
    // What to tell a user when a reader is plugged in that this user may not open: "a reader is
    // plugged in at PATH but this user may not open it: install the udev rule (see README) and
    // plug it in again"; empty when there is none. Any thread; never blocks.
    Q_INVOKABLE QString readerAccessProblem() const;
    // Completion flags: false until the first such answer ends, then true for good. Never block.
    Q_INVOKABLE bool hasSchema() const;
    Q_INVOKABLE bool hasConfigSchema() const;
    Q_INVOKABLE bool hasResults() const;

    // Ends the requests that run at once with RequestOutcome::cancelled, and every request that
    // starts later the same way until resumeRequests: a job cancelled between two of its requests
    // must not start the next. What the reader still sends for them is read and dropped, never
    // taken as the answer of a later request. Any thread; never blocks for longer than a short
    // state lock.
    void cancelRequests();
    // Lets requests run again; called by whoever starts the next job, before it checks whether
    // that job was itself cancelled. Any thread.
    void resumeRequests();

    // Receiving side; event thread only. None of them blocks for longer than a short state lock.
    // The AAP layer adopted a reader: requests may be sent; emits onConnected.
    void readerAttached();
    // The adopted reader is gone: every waiting request ends with an empty result; emits
    // onDisconnected. The completion flags and stored answers stay.
    void readerRemoved();
    // A complete text reply (NUL-terminated, up to and including its status line); null for one
    // that could not be received whole, which ends the text request as
    // RequestOutcome::unreadableReply.
    void handleTextReply(const char* text);
    // One complete AAP message from the reader, dispatched by type; traces to the debug log.
    void handleMessage(const AAPMessage& message);

    // One JSON object per record, members keyed by field id, every value a string; entries of an
    // unknown type are left out with "undefined entry.type" in the debug log. Any thread.
    static QJsonArray buildJsonArray(const QVector<DecodedRecord>& records);
    // The object of one record in buildJsonArray's array. Any thread.
    static QJsonObject buildJsonObject(const DecodedRecord& record);
    // The value of a text reply: its first line when it splits at "\r\n" into exactly four parts
    // and the third contains "OK", else empty. Read as Latin-1. Any thread.
    static QString textReplyValue(const QByteArray& reply);
    // The clock text of a date-time answer's first seven bytes (second, minute, hour, day, month,
    // year low, year high), as requestDateTime returns it. Any thread.
    static QString readerClockText(const uint8_t* fields);
    // The same fields as a Qt::UTC date and time (their wall clock, no zone applied);
    // invalid when they are no date or time. Any thread.
    static QDateTime readerClockDateTime(const uint8_t* fields);

    // Tests only: the time without answer progress after which a request is sent again.
    static void setRequestRepeatMsForTest(int ms);
    // Tests only: the silent repeat periods after which a request gives up (kGiveUpPeriods);
    // tests of the repeat itself raise it, so that a slow sending thread cannot end them early.
    static void setGiveUpPeriodsForTest(int periods);
    // Tests only, while no request runs: forgets every answer, flag, attempt and the adoption,
    // and restores kGiveUpPeriods.
    static void resetForTest();

signals:
    void onConnected();
    void onDisconnected();
    // Records of the current table or calibration answer received so far: the first, then at
    // most one a tenth of a second. Emitted on the event thread.
    void onRecordCount(int count);

private:
    struct State;
    enum Kind : int;

    DeviceClient();

    // Runs the attempts of one request; send issues one attempt's command and collect, called
    // under the state lock once the answer is complete, copies the result. Collect is called
    // only when the outcome is RequestOutcome::answered.
    [[nodiscard]] RequestOutcome runRequest(Kind kind, const std::function<void()>& send,
                                            const std::function<void()>& collect);
    [[nodiscard]] RequestOutcome typedRequest(Kind kind, uint16_t type);
    RequestResult<QJsonArray> typedRecordRequest(Kind kind, uint16_t type, uint8_t id);
    RequestResult<QString> textRequest(const char* command);

    // Under the state lock: starts an attempt of kind (clears its list unless an answer to an
    // earlier attempt is arriving, queues it as awaiting an answer) and returns its number.
    uint64_t startAttempt(Kind kind);
    // Under the state lock: empties the list an answer of kind is collected in.
    void clearAnswer(Kind kind);
    // Under the state lock: waits until the attempt is answered (true), the reader is removed,
    // or a whole repeat period passes without answer progress (false).
    bool waitForAnswer(Kind kind, uint64_t attempt, uint64_t removals);
    // Under the state lock: queues one attempt's send for the "reader-sender" thread.
    void queueSend(Kind kind, uint64_t attempt, uint64_t removals,
                   const std::function<void()>& send);
    // Under the state lock: whether one answer message of kind belongs to an attempt of the
    // request that runs; last ends that answer (a date-time or calibration answer is one message).
    bool takeAnswer(Kind kind, bool last);
    // Under the state lock: takes the oldest attempt of kind awaited (owed: there was one) and
    // returns whether its answer is for the request that runs.
    bool claimAwaited(Kind kind, bool* owed);
    // Under the state lock: an owed answer of kind's channel arrived; progress for its waiters.
    void noteProgress(Kind kind);
    void forgetAwaited(Kind kind);
    // Under the state lock: the current attempt of kind is answered; wakes its waiters.
    void answerComplete(Kind kind);

    // The receiving operations; event thread, under the state lock.
    void addSchemaTable(const std::vector<uint8_t>& bytes);
    void markSchemaComplete();
    void addConfigSchemaTable(const std::vector<uint8_t>& bytes);
    void markConfigSchemaComplete();
    void addRecord(const DecodedRecord& record);
    void markRecordsComplete();
    void addCalibrationRecord(const DecodedRecord& record);
    void calibrationReceived();
    void setReaderDateTime(const ReaderClock& clock);
    void setTextReply(const QString& text);

    std::unique_ptr<State> state_;
};
