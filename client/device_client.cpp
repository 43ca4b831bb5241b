#include "client/device_client.h"

#include <QAtomicInt>
#include <QAtomicPointer>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>

#include "hid/hid.h"
#include "platform/debug_log.h"
#include "protocol/aap_codes.h"
#include "protocol/aap_layer.h"
#include "protocol/aap_message.h"
#include "protocol/schema.h"

enum DeviceClient::Kind : int {
    kSchema,
    kConfigSchema,
    kRecords,
    kCalibration,
    kDateTime,
    kText,
    kKindCount,
};

namespace {

constexpr size_t kDateTimeSize = 8;
constexpr int kRepeatMs = 10000;
constexpr qint64 kRecordCountEveryMs = 100;

// Process-wide and never destroyed: the transport's event thread may still deliver answers
// while the process exits. Used by every request thread and by the event thread.
struct Shared {
    // Serialises sending: held by the "reader-sender" thread while it sends.
    QMutex requestMutex;
    // Guards sendQueue; taken after stateMutex, never before it.
    QMutex sendMutex;
    QWaitCondition sendQueued;
    std::deque<std::function<void()>> sendQueue;
    // Runs the queued sends in order; created with the first one and never ended, as it may
    // still wait for a vanished reader's credit when the process exits.
    QThread* sender = nullptr;
    // Guards the answers, flags, attempts and adoption; never held across a send.
    QMutex stateMutex;
    QWaitCondition schemaAnswered;
    QWaitCondition configSchemaAnswered;
    QWaitCondition recordsAnswered;
    QWaitCondition calibrationAnswered;
    QWaitCondition dateTimeAnswered;
    QWaitCondition textReplyAnswered;
    bool schemaComplete = false;
    bool configSchemaComplete = false;
    bool recordsComplete = false;
    std::atomic<int> repeatMs{kRepeatMs};
    std::atomic<int> giveUpPeriods{DeviceClient::kGiveUpPeriods};
    // The thread that last delivered an answer or an event: the transport's event thread.
    std::atomic<Qt::HANDLE> receivingThread{nullptr};

    QWaitCondition& answered(int kind) {
        QWaitCondition* const conditions[] = {&schemaAnswered,   &configSchemaAnswered,
                                              &recordsAnswered,  &calibrationAnswered,
                                              &dateTimeAnswered, &textReplyAnswered};
        return *conditions[kind];
    }
};

Shared& shared() {
    static Shared* const value = new Shared;
    return *value;
}

QAtomicInt instanceGuard;  // 0 not created, 1 being created, 2 created
QAtomicPointer<DeviceClient> theClient;

std::string Format(const char* format, ...) LUMORA_PRINTF_FORMAT(1, 2);
std::string Format(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// Formatted under the state lock, logged once it is released: the log's write never holds up a
// request.
void Trace(const std::string& text) {
    if (!text.empty()) {
        DebugLog("%s", text.c_str());
    }
}

void SendTyped(uint16_t type, const uint8_t* payload, uint32_t length) {
    AAPSendMessage(AAPMessage(type, payload, length));
    AAPSendMessage(AAPMessage(kAAPEndOfRequest, nullptr, 0));
}

}  // namespace

// Read and written by request threads and the event thread, always under Shared::stateMutex.
struct DeviceClient::State {
    SchemaList schemaTables;
    SchemaList configSchemaTables;
    // The records answer as JSON text: "[" and the records so far, "]" added when collected.
    RecordsJson databaseRecords;
    QVector<DecodedRecord> calibrationRecords;
    QString textReply;
    bool textReplyLost = false;      // the accepted reply could not be received whole
    ReaderClock readerDateTime;      // empty until the first date-time answer
    QElapsedTimer recordCountShown;  // since onRecordCount was last emitted

    struct Attempts {
        uint64_t current = 0;    // number of the latest attempt
        uint64_t first = 0;      // the first attempt of the request that runs
        uint64_t answered = 0;   // the attempt whose answer is complete
        uint64_t progress = 0;   // answer messages of this request or owed ahead of it
        qint64 progressAt = 0;   // when the last one was taken, on QDeadlineTimer's clock
        uint64_t staleEnds = 0;  // answers that ended during a request but were not its own
        uint64_t sent = 0;       // the latest attempt whose send has returned
        bool busy = false;       // a request of this kind runs
    };
    std::array<Attempts, kKindCount> kinds;

    // Attempts sent whose answers have not begun, in sending order: the reader answers in order,
    // so each answer belongs to the oldest attempt of its kind.
    struct Awaited {
        Kind kind;
        uint64_t attempt;
    };
    std::deque<Awaited> awaitedMessages;
    std::deque<Awaited> awaitedReplies;  // the text channel

    // The schema, configuration-schema or record answer being received.
    struct OpenAnswer {
        bool open = false;
        Kind kind = kSchema;
        bool accepted = false;  // it belongs to an attempt of the request that runs
        bool owed = false;      // it answers an attempt sent, of this or an earlier request
    } answer;

    bool readerAdopted = false;
    uint64_t removals = 0;
    bool cancelled = false;  // cancelRequests until resumeRequests
};

DeviceClient* DeviceClient::instance() {
    if (instanceGuard.testAndSetAcquire(0, 1)) {
        theClient.storeRelease(new DeviceClient);
        instanceGuard.storeRelease(2);
    }
    while (instanceGuard.loadAcquire() != 2) {
        QThread::yieldCurrentThread();
    }
    return theClient.loadAcquire();
}

DeviceClient::DeviceClient() : QObject(nullptr), state_(new State) {}

DeviceClient::~DeviceClient() = default;

RequestResult<QString> DeviceClient::requestSerialNumber() {
    return textRequest("$sn?\r\n");
}

RequestResult<QString> DeviceClient::requestSubjectName() {
    return textRequest("$ptname?\r\n");
}

RequestOutcome DeviceClient::requestSchema() {
    return typedRequest(kSchema, kAAPSchema);
}

RequestOutcome DeviceClient::requestConfigurationSchema() {
    return typedRequest(kConfigSchema, kAAPConfigSchema);
}

RequestResult<QJsonArray> DeviceClient::requestDatabaseRecords(uint8_t tableId) {
    const RequestResult<RecordsJson> records = requestDatabaseRecordsJson(tableId);
    return {records.outcome, QJsonDocument::fromJson(records.value.array).array()};
}

RequestResult<DeviceClient::RecordsJson> DeviceClient::requestDatabaseRecordsJson(uint8_t tableId) {
    RequestResult<RecordsJson> records;
    records.outcome = runRequest(
        kRecords, [tableId] { SendTyped(kAAPRecord, &tableId, 1); },
        [&] {
            // Moved, not shared: the answer may be large and nothing reads it again.
            records.value = std::move(state_->databaseRecords);
            state_->databaseRecords = RecordsJson();
            records.value.array.append(']');
        });
    if (records.value.array.isEmpty()) {
        records.value.array = QByteArrayLiteral("[]");
    }
    return records;
}

RequestResult<DeviceClient::ReaderClock> DeviceClient::requestDateTime() {
    RequestResult<ReaderClock> clock;
    clock.outcome = runRequest(
        kDateTime, [] { SendTyped(kAAPDateTime, nullptr, 0); },
        [&] { clock.value = state_->readerDateTime; });
    return clock;
}

QDateTime DeviceClient::readerClockDateTime(const uint8_t* fields) {
    const QDate date(fields[5] | fields[6] << 8, fields[4], fields[3]);
    const QTime time(fields[2], fields[1], fields[0]);
    // The reader's wall clock knows no zone: as local time it could fall into a gap.
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

QString DeviceClient::readerClockText(const uint8_t* fields) {
    const QDateTime clock = readerClockDateTime(fields);
    if (!clock.isValid()) {
        return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", fields[5] | fields[6] << 8,
                                 fields[4], fields[3], fields[2], fields[1], fields[0]);
    }
    return clock.toString(QStringLiteral("dd MMM yyyy HH:mm:ss"));
}

RequestResult<QJsonArray> DeviceClient::requestCalibrationConfig(uint8_t id) {
    return typedRecordRequest(kCalibration, kAAPConfig, id);
}

bool DeviceClient::hasSchema() const {
    QMutexLocker locker(&shared().stateMutex);
    return shared().schemaComplete;
}

bool DeviceClient::hasConfigSchema() const {
    QMutexLocker locker(&shared().stateMutex);
    return shared().configSchemaComplete;
}

bool DeviceClient::hasResults() const {
    QMutexLocker locker(&shared().stateMutex);
    return shared().recordsComplete;
}

RequestOutcome DeviceClient::typedRequest(Kind kind, uint16_t type) {
    return runRequest(
        kind, [type] { SendTyped(type, nullptr, 0); }, [] {});
}

RequestResult<QJsonArray> DeviceClient::typedRecordRequest(Kind kind, uint16_t type, uint8_t id) {
    // Implicitly shared: the copy under the lock is cheap and the JSON is built outside it.
    QVector<DecodedRecord> records;
    const RequestOutcome outcome = runRequest(
        kind, [type, id] { SendTyped(type, &id, 1); },
        [&] { records = state_->calibrationRecords; });
    return {outcome, buildJsonArray(records)};
}

RequestResult<QString> DeviceClient::textRequest(const char* command) {
    RequestResult<QString> reply;
    reply.outcome = runRequest(
        kText, [command] { AAPSendText(command); }, [&] { reply.value = state_->textReply; });
    return reply;
}

RequestOutcome DeviceClient::runRequest(Kind kind, const std::function<void()>& send,
                                        const std::function<void()>& collect) {
    Shared& sh = shared();
    // Its answer could only come on this very thread: waiting would never end.
    if (QThread::currentThreadId() == sh.receivingThread.load()) {
        DebugLog("Request refused: made on the reader's event thread\n");
        return RequestOutcome::noReader;
    }
    State& s = *state_;
    State::Attempts& a = s.kinds[kind];
    QMutexLocker state(&sh.stateMutex);
    // One request of a kind at a time: a second one would turn the first one's attempts stale.
    while (a.busy && s.readerAdopted && !s.cancelled) {
        sh.answered(kind).wait(&sh.stateMutex);
    }
    if (s.cancelled) {
        return RequestOutcome::cancelled;
    }
    if (!s.readerAdopted) {
        return RequestOutcome::noReader;
    }
    const uint64_t removals = s.removals;
    a.busy = true;
    a.first = a.current + 1;
    RequestOutcome outcome = RequestOutcome::noReader;
    bool complete = false;
    uint64_t attempt = 0;
    uint64_t progress = a.progress;
    int silentPeriods = 0;
    while (s.removals == removals && !s.cancelled) {
        // A send still waiting for credit is not piled up behind.
        if (attempt == 0 || a.sent >= attempt) {
            attempt = startAttempt(kind);
            queueSend(kind, attempt, removals, send);
        }
        const uint64_t staleEnds = a.staleEnds;
        complete = waitForAnswer(kind, attempt, removals);
        if (complete || s.removals != removals || s.cancelled) {
            break;
        }
        if (a.progress != progress) {
            progress = a.progress;
            silentPeriods = 0;
        }
        if (++silentPeriods >= sh.giveUpPeriods.load()) {
            // Whatever it still owes is not waited for: the next request starts afresh.
            forgetAwaited(kind);
            DebugLog("The reader stopped answering\n");
            outcome = RequestOutcome::notAnswering;
            break;
        }
        // An answer ended that was not ours although we were owed one: the reader answered fewer
        // requests than were sent, so stop expecting the older ones.
        if (a.staleEnds != staleEnds) {
            forgetAwaited(kind);
        }
    }
    if (complete && kind == kText && s.textReplyLost) {
        DebugLog("The reader's reply could not be received whole\n");
        outcome = RequestOutcome::unreadableReply;
        complete = false;
    }
    if (complete) {
        collect();
        outcome = RequestOutcome::answered;
    } else if (s.cancelled && s.removals == removals) {
        // The rest of an answer under way is dropped as it comes; attempts whose answers have
        // not begun stay awaited, so their answers are known as this request's and dropped too.
        if (s.answer.open && s.answer.kind == kind) {
            s.answer.accepted = false;
        }
        clearAnswer(kind);
        outcome = RequestOutcome::cancelled;
    }
    a.busy = false;
    sh.answered(kind).wakeAll();
    return outcome;
}

void DeviceClient::queueSend(Kind kind, uint64_t attempt, uint64_t removals,
                             const std::function<void()>& send) {
    Shared& sh = shared();
    State* const s = state_.get();
    auto job = [s, kind, attempt, removals, send] {
        Shared& sh = shared();
        bool sameReader;
        {
            QMutexLocker state(&sh.stateMutex);
            sameReader = s->removals == removals;
        }
        // Meant for a reader that is gone: the next one must not get it.
        if (sameReader) {
            QMutexLocker sending(&sh.requestMutex);
            send();
        }
        QMutexLocker state(&sh.stateMutex);
        s->kinds[kind].sent = std::max(s->kinds[kind].sent, attempt);
    };
    QMutexLocker queue(&sh.sendMutex);
    if (!sh.sender) {
        sh.sender = QThread::create([] {
            Shared& sh = shared();
            for (;;) {
                std::function<void()> next;
                {
                    QMutexLocker queue(&sh.sendMutex);
                    while (sh.sendQueue.empty()) {
                        sh.sendQueued.wait(&sh.sendMutex);
                    }
                    next = std::move(sh.sendQueue.front());
                    sh.sendQueue.pop_front();
                }
                next();
            }
        });
        sh.sender->setObjectName(QStringLiteral("reader-sender"));
        sh.sender->start();
    }
    sh.sendQueue.push_back(std::move(job));
    sh.sendQueued.wakeOne();
}

void DeviceClient::clearAnswer(Kind kind) {
    State& s = *state_;
    switch (kind) {
        case kSchema:
            s.schemaTables.clear();
            break;
        case kConfigSchema:
            s.configSchemaTables.clear();
            break;
        case kRecords:
            s.databaseRecords = RecordsJson();
            s.databaseRecords.array = QByteArrayLiteral("[");
            break;
        case kCalibration:
            s.calibrationRecords.clear();
            break;
        default:
            break;
    }
}

uint64_t DeviceClient::startAttempt(Kind kind) {
    State& s = *state_;
    // Every attempt asks the same: an answer still arriving for an earlier one is kept and ends
    // the request.
    if (!(s.answer.open && s.answer.kind == kind && s.answer.accepted)) {
        clearAnswer(kind);
    }
    const uint64_t attempt = ++s.kinds[kind].current;
    (kind == kText ? s.awaitedReplies : s.awaitedMessages).push_back({kind, attempt});
    return attempt;
}

bool DeviceClient::waitForAnswer(Kind kind, uint64_t attempt, uint64_t removals) {
    Shared& sh = shared();
    const State& s = *state_;
    const State::Attempts& a = s.kinds[kind];
    // The period runs from the wait's start or the answer's last part. The repeat time is read
    // again when it runs out, so a test that lengthens it meanwhile is obeyed.
    qint64 since = QDeadlineTimer::current().deadline();
    QDeadlineTimer deadline;
    deadline.setDeadline(since + sh.repeatMs.load());
    uint64_t progress = a.progress;
    bool expired = false;
    for (;;) {
        if (s.removals != removals || s.cancelled) {
            return false;
        }
        // Calibration has no flag of its own: it completes once some record answer has ended.
        if (a.answered == attempt && (kind != kCalibration || sh.recordsComplete)) {
            return true;
        }
        if (expired) {
            return false;
        }
        const qint64 remaining = std::max<qint64>(0, deadline.remainingTime());
        if (sh.answered(kind).wait(&sh.stateMutex, static_cast<unsigned long>(remaining))) {
            continue;
        }
        // A long answer that is still arriving is not cut short by a repeat.
        if (a.progress != progress) {
            progress = a.progress;
            since = a.progressAt;
        }
        deadline.setDeadline(since + sh.repeatMs.load());
        expired = deadline.hasExpired();
    }
}

bool DeviceClient::claimAwaited(Kind kind, bool* owed) {
    State& s = *state_;
    *owed = false;
    std::deque<State::Awaited>& queue = kind == kText ? s.awaitedReplies : s.awaitedMessages;
    // Requests ahead of the oldest one of this kind were never answered.
    while (!queue.empty() && queue.front().kind != kind) {
        queue.pop_front();
    }
    if (queue.empty()) {
        return false;
    }
    const uint64_t attempt = queue.front().attempt;
    queue.pop_front();
    *owed = true;
    const State::Attempts& a = s.kinds[kind];
    return a.busy && attempt >= a.first && a.answered != a.current;
}

void DeviceClient::noteProgress(Kind kind) {
    State& s = *state_;
    const qint64 now = QDeadlineTimer::current().deadline();
    // The reader answers each channel in order: what it sends that was owed moves every request
    // waiting on that channel closer to its own answer.
    for (int k = 0; k < kKindCount; ++k) {
        State::Attempts& a = s.kinds[k];
        if (a.busy && (k == kText) == (kind == kText)) {
            ++a.progress;
            a.progressAt = now;
        }
    }
}

bool DeviceClient::takeAnswer(Kind kind, bool last) {
    State& s = *state_;
    State::Attempts& a = s.kinds[kind];
    bool accepted;
    bool owed;
    if (kind == kDateTime || kind == kCalibration) {
        // One-message answers leave a longer answer in progress alone.
        accepted = claimAwaited(kind, &owed);
    } else {
        if (!s.answer.open || s.answer.kind != kind) {
            s.answer.kind = kind;
            s.answer.accepted = claimAwaited(kind, &s.answer.owed);
        }
        s.answer.open = !last;
        accepted = s.answer.accepted;
        owed = s.answer.owed;
    }
    if (owed) {
        noteProgress(kind);
    }
    if (!accepted && last && a.busy) {
        ++a.staleEnds;
    }
    return accepted;
}

void DeviceClient::forgetAwaited(Kind kind) {
    State& s = *state_;
    std::deque<State::Awaited>& queue = kind == kText ? s.awaitedReplies : s.awaitedMessages;
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [kind](const State::Awaited& w) { return w.kind == kind; }),
                queue.end());
}

void DeviceClient::cancelRequests() {
    Shared& sh = shared();
    QMutexLocker locker(&sh.stateMutex);
    state_->cancelled = true;
    for (int kind = 0; kind < kKindCount; ++kind) {
        sh.answered(kind).wakeAll();
    }
}

void DeviceClient::resumeRequests() {
    QMutexLocker locker(&shared().stateMutex);
    state_->cancelled = false;
}

void DeviceClient::readerAttached() {
    shared().receivingThread.store(QThread::currentThreadId());
    {
        QMutexLocker locker(&shared().stateMutex);
        state_->readerAdopted = true;
    }
    emit onConnected();
}

void DeviceClient::readerRemoved() {
    shared().receivingThread.store(QThread::currentThreadId());
    {
        Shared& sh = shared();
        State& s = *state_;
        QMutexLocker locker(&sh.stateMutex);
        s.readerAdopted = false;
        ++s.removals;
        // Whatever the reader still owed is lost with it.
        s.awaitedMessages.clear();
        s.awaitedReplies.clear();
        s.answer.open = false;
        for (int kind = 0; kind < kKindCount; ++kind) {
            sh.answered(kind).wakeAll();
        }
    }
    emit onDisconnected();
}

void DeviceClient::handleTextReply(const char* text) {
    shared().receivingThread.store(QThread::currentThreadId());
    // Null: a reply that could not be received whole, which ends its request as a failure.
    const QString value = text ? textReplyValue(QByteArray(text)) : QString();
    QMutexLocker locker(&shared().stateMutex);
    State::Attempts& a = state_->kinds[kText];
    bool owed;
    const bool accepted = claimAwaited(kText, &owed);
    if (owed) {
        noteProgress(kText);
    }
    if (accepted) {
        state_->textReplyLost = !text;
        setTextReply(value);
    } else if (a.busy) {
        ++a.staleEnds;
    }
}

void DeviceClient::handleMessage(const AAPMessage& message) {
    shared().receivingThread.store(QThread::currentThreadId());
    const std::vector<uint8_t>& payload = message.payload();
    const bool empty = payload.empty();
    const uint32_t size = static_cast<uint32_t>(payload.size());
    std::string trace;
    int recordCount = 0;
    bool showCount = false;
    {
        Shared& sh = shared();
        State& s = *state_;
        QMutexLocker locker(&sh.stateMutex);
        switch (message.type()) {
            case kAAPRecord: {
                // Taken even without a schema, so the answer still counts as given.
                const bool ours = takeAnswer(kRecords, empty);
                if (!sh.schemaComplete) {
                    trace = "Error No Schema Table\n";
                } else if (ours && empty) {
                    // One line per answer: a line per record would flood the log.
                    trace = Format("Records: %d\n", s.databaseRecords.count);
                    markRecordsComplete();
                } else if (ours) {
                    // Byte 0 of a record answer is not part of the record.
                    addRecord(DecodedRecord(s.schemaTables, payload.data() + 1, size - 1, false));
                    recordCount = s.databaseRecords.count;
                }
                break;
            }
            case kAAPSchema:
                if (takeAnswer(kSchema, empty)) {
                    empty ? markSchemaComplete() : addSchemaTable(payload);
                }
                break;
            case kAAPConfigSchema:
                if (takeAnswer(kConfigSchema, empty)) {
                    empty ? markConfigSchemaComplete() : addConfigSchemaTable(payload);
                }
                break;
            case kAAPDateTime: {
                const bool ours = takeAnswer(kDateTime, true);
                if (payload.size() < kDateTimeSize) {
                    trace = Format("Ignored a date-time answer of %u bytes\n", size);
                    break;
                }
                const int year = payload[5] | payload[6] << 8;
                if (ours) {
                    setReaderDateTime(
                        {readerClockText(payload.data()), readerClockDateTime(payload.data())});
                }
                trace = Format("%d:%d:%d %d/%d/%d v:%d\nCMD OK\n", payload[2], payload[1],
                               payload[0], payload[3], payload[4], year, payload[7]);
                break;
            }
            case kAAPConfig:
                // An empty configuration answer is no answer; the request repeats.
                if (takeAnswer(kCalibration, true) && !empty) {
                    addCalibrationRecord(
                        DecodedRecord(s.configSchemaTables, payload.data(), size, true));
                    trace = Format("Records: %d\n", s.calibrationRecords.size());
                    recordCount = s.calibrationRecords.size();
                    calibrationReceived();
                }
                break;
            case kAAPError:
                // It answers the oldest request awaited, which repeats when its wait runs out.
                if (!s.awaitedMessages.empty()) {
                    s.awaitedMessages.pop_front();
                }
                trace = "Received AAP_Error from meter - something went wrong with our request\n";
                break;
            default:
                break;
        }
        if (recordCount == 1 ||
            (recordCount > 1 && s.recordCountShown.hasExpired(kRecordCountEveryMs))) {
            s.recordCountShown.start();
            showCount = true;
        }
    }
    Trace(trace);
    // Outside the lock: a direct connection runs its slot here.
    if (showCount) {
        emit onRecordCount(recordCount);
    }
}

void DeviceClient::answerComplete(Kind kind) {
    State::Attempts& a = state_->kinds[kind];
    a.answered = a.current;
    shared().answered(kind).wakeAll();
}

void DeviceClient::addSchemaTable(const std::vector<uint8_t>& bytes) {
    state_->schemaTables.emplace_back(bytes);
}

void DeviceClient::markSchemaComplete() {
    shared().schemaComplete = true;
    answerComplete(kSchema);
}

void DeviceClient::addConfigSchemaTable(const std::vector<uint8_t>& bytes) {
    state_->configSchemaTables.emplace_back(bytes);
}

void DeviceClient::markConfigSchemaComplete() {
    shared().configSchemaComplete = true;
    answerComplete(kConfigSchema);
}

void DeviceClient::addRecord(const DecodedRecord& record) {
    appendRecord(state_->databaseRecords, record);
}

void DeviceClient::appendRecord(RecordsJson& records, const DecodedRecord& record) {
    const QJsonObject object = buildJsonObject(record);
    if (records.count++ > 0) {
        records.array.append(',');
    } else {
        records.first = object;
    }
    records.array.append(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void DeviceClient::markRecordsComplete() {
    shared().recordsComplete = true;
    answerComplete(kRecords);
}

void DeviceClient::addCalibrationRecord(const DecodedRecord& record) {
    state_->calibrationRecords.append(record);
}

void DeviceClient::calibrationReceived() {
    answerComplete(kCalibration);
}

void DeviceClient::setReaderDateTime(const ReaderClock& clock) {
    state_->readerDateTime = clock;
    answerComplete(kDateTime);
}

void DeviceClient::setTextReply(const QString& text) {
    state_->textReply = text;
    answerComplete(kText);
}

QJsonArray DeviceClient::buildJsonArray(const QVector<DecodedRecord>& records) {
    QJsonArray array;
    for (const DecodedRecord& record : records) {
        array.append(buildJsonObject(record));
    }
    return array;
}

QJsonObject DeviceClient::buildJsonObject(const DecodedRecord& record) {
    QJsonObject object;
    std::string trace;
    for (const auto& [id, entry] : record.entries) {
        const QString key = QString::number(id);
        switch (entry.type) {
            case kFieldUnsigned0:
            case kFieldUnsigned1:
            case kFieldUnsigned10:
            case kFieldUnsigned11:
                object.insert(key, QString::number(entry.value));
                break;
            case kFieldSigned:
                object.insert(key, QString::number(static_cast<int32_t>(entry.value)));
                break;
            case kFieldText:
            case kFieldBytes:
                // Up to the first NUL, as the text was meant.
                object.insert(key, QString::fromUtf8(entry.text.c_str()));
                break;
            default:
                trace += "undefined entry.type\n";
                break;
        }
    }
    Trace(trace);
    return object;
}

QString DeviceClient::textReplyValue(const QByteArray& reply) {
    const QStringList parts = QString::fromLatin1(reply).split(QStringLiteral("\r\n"));
    if (parts.size() == 4 && parts[2].contains(QLatin1String("OK"))) {
        return parts[0];
    }
    return QString();
}

void DeviceClient::setRequestRepeatMsForTest(int ms) {
    shared().repeatMs.store(ms);
}

void DeviceClient::setGiveUpPeriodsForTest(int periods) {
    shared().giveUpPeriods.store(periods);
}

void DeviceClient::resetForTest() {
    DeviceClient* client = instance();
    Shared& sh = shared();
    QMutexLocker locker(&sh.stateMutex);
    *client->state_ = State();
    sh.schemaComplete = false;
    sh.configSchemaComplete = false;
    sh.recordsComplete = false;
    sh.receivingThread.store(nullptr);
    sh.giveUpPeriods.store(kGiveUpPeriods);
}

QString DeviceClient::readerAccessProblem() const {
    const std::string path = HidDeniedDevicePath();
    if (path.empty()) {
        return {};
    }
    return tr("a reader is plugged in at %1 but this user may not open it: install the udev rule "
              "(see README) and plug it in again")
        .arg(QString::fromStdString(path));
}
