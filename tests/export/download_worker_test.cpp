// DownloadMediator and DownloadWorker against a stand-in reader behind the real AAP layer and
// device client: the order of requests, the documents, and a reader removed mid-download.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "export/download_mediator.h"
#include "protocol/aap_layer.h"
#include "protocol/aap_message.h"
#include "tests/support/null_transport.h"
#include "transport/mal_transport_manager.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kReader = 1;
// Upper bound on any wait, so a fault fails the test instead of hanging it.
constexpr int kPatienceMs = 20000;
constexpr int kNeverRepeatMs = 10 * 60 * 1000;

std::string Encoded(uint16_t type, const Bytes& payload = {}) {
    const AAPMessage message(type, payload.data(), uint32_t(payload.size()));
    return std::string(message.encoded().begin(), message.encoded().end());
}

// A header table (record type 255: fields 0 and 8) and record type 5 (text field 90, signed
// field 100); the configuration table of record type 1 (field 200).
const Bytes kHeaderTable = {0, 0, 0, 0,    0xFF, 0, 2, 0, 2, 0, 0, 0,    0,
                            0, 0, 0, 0x10, 0,    8, 0, 1, 0, 0, 0, 0x10, 0};
const Bytes kBodyTable = {0, 0, 0, 0,    5, 0,    0, 0, 2, 0, 0x5A, 0, 0,
                          0, 0, 3, 0x50, 0, 0x64, 0, 5, 0, 4, 2,    4, 0};
const Bytes kConfigTable = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xC8, 0, 0, 0, 0, 0, 0x10, 0};
const Bytes kConfigRecord = {1, 0xE8, 0x03};

// Record number n of a table, sensor "ABC".
Bytes Record(uint8_t table, uint8_t n) {
    return {table, n, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0};
}

const std::string kSchema = Encoded(52);
const std::string kConfigSchema = Encoded(84);
const std::string kTable6 = Encoded(49, {6});
const std::string kCalibration = Encoded(81, {1});
const std::string kTable7 = Encoded(49, {7});
const std::string kEndOfRequest = Encoded(125);

// Stands in for the transport and the reader behind it. Its own thread plays the transport's
// event thread: it answers each request in order, and attaches and removes the reader.
class FakeReader final : public NullTransport {
public:
    FakeReader() : thread_([this] { run(); }) {}
    ~FakeReader() {
        post(nullptr);
        thread_.join();
    }

    int table6Records = 3;
    int table7Records = 2;

    // Runs task on the reader's thread, after everything posted before it.
    void post(std::function<void()> task) {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        changed_.notify_all();
    }
    void attach() {
        post([] { AAPOnTransportEvent(kReader, kXportAttach, 0, 0); });
    }
    // The reader goes away on receiving request, instead of answering it.
    void removeOn(const std::string& request) {
        std::lock_guard<std::mutex> lock(mutex_);
        removeOn_ = request;
    }
    // The requests received so far, type 125 left out.
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> senderThreads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return senderThreads_;
    }

    int32_t writeMsg(uint32_t, uint32_t, const uint8_t* bytes, uint32_t length) override {
        std::string request(bytes, bytes + length);
        if (request == kEndOfRequest) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        senderThreads_.push_back(QThread::currentThread()->objectName().toStdString());
        const bool remove = request == removeOn_;
        if (remove) {
            removeOn_.clear();
        }
        tasks_.push_back([this, request, remove] {
            if (remove) {
                AAPOnTransportEvent(kReader, kXportRemove, 0, 0);
            } else {
                answer(request);
            }
        });
        changed_.notify_all();
        return 0;
    }
    int32_t readMsg(uint32_t, uint32_t, uint8_t* buffer, uint32_t* size) override {
        const uint32_t n = std::min<uint32_t>(*size, uint32_t(incoming_.size()));
        std::copy_n(incoming_.begin(), n, buffer);
        incoming_.erase(0, n);
        *size = n;
        return 0;
    }

private:
    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !tasks_.empty(); });
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            if (!task) {
                return;
            }
            task();
        }
    }
    // Reader's thread only, as incoming_.
    void deliver(uint16_t type, const Bytes& payload = {}) {
        incoming_ = Encoded(type, payload);
        AAPOnTransportEvent(kReader, kXportMsgData, uint32_t(incoming_.size()), 0);
    }
    void answer(const std::string& request) {
        if (request == kSchema) {
            deliver(52, kHeaderTable);
            deliver(52, kBodyTable);
            deliver(52);
        } else if (request == kConfigSchema) {
            deliver(84, kConfigTable);
            deliver(84);
        } else if (request == kTable6 || request == kTable7) {
            const bool six = request == kTable6;
            for (int n = 0; n < (six ? table6Records : table7Records); ++n) {
                deliver(49, Record(six ? 6 : 7, uint8_t(n)));
            }
            deliver(49);
        } else if (request == kCalibration) {
            deliver(81, kConfigRecord);
        } else {
            deliver(126);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::string> requests_;
    std::vector<std::string> senderThreads_;
    std::string removeOn_;
    std::string incoming_;
    std::thread thread_;
};

class DownloadWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        AAPResetForTest();
        DeviceClient::resetForTest();
        DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
        DeviceClient::instance();
        AAPSetTransportForTest(&reader);
        AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
                onReaderDebugPrint, nullptr);
        mediator = std::make_unique<DownloadMediator>();
        QObject::connect(mediator.get(), &DownloadMediator::onResultsReady,
                         [this](QByteArray text, QString sensorId) {
                             documents.append(QString::fromLatin1(text));
                             sensorIds.append(sensorId);
                             changed();
                         });
        QObject::connect(mediator.get(), &DownloadMediator::onDownloadAborted,
                         [this](QString reason) {
                             aborts.append(reason);
                             changed();
                         });
    }
    void TearDown() override {
        reader.post([] { AAPOnTransportEvent(kReader, kXportRemove, 0, 0); });
        // Waits for a download still running, before the transport goes.
        mediator.reset();
        AAPSetTransportForTest(nullptr);
        AAPResetForTest();
    }

    // Runs this thread's event loop until the mediator has emitted `count` results in all.
    bool waitForOutcomes(int count) {
        expected = count;
        if (documents.size() + aborts.size() < count) {
            QEventLoop loop;
            running = &loop;
            QTimer::singleShot(kPatienceMs, &loop, [&] { loop.exit(1); });
            loop.exec();
            running = nullptr;
        }
        return documents.size() + aborts.size() == count;
    }
    void changed() {
        if (running && documents.size() + aborts.size() >= expected) {
            running->quit();
        }
    }
    // The reader adopted and the client told, before a download starts.
    void attachReader() {
        bool connected = false;
        QEventLoop loop;
        auto connection =
            QObject::connect(DeviceClient::instance(), &DeviceClient::onConnected, &loop, [&] {
                connected = true;
                loop.quit();
            });
        reader.attach();
        QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(connection);
        ASSERT_TRUE(connected);
    }
    void expectDocument(const QString& text) {
        const QJsonObject document = QJsonDocument::fromJson(text.toUtf8()).object();
        EXPECT_EQ(document.keys(),
                  QStringList({"events", "factory_config", "hostDateTime", "records"}));
        const QJsonArray records = document["records"].toArray();
        ASSERT_EQ(records.size(), reader.table6Records);
        EXPECT_EQ(
            records[1].toObject(),
            QJsonDocument::fromJson(R"({"0":"1","100":"-1","8":"5","90":"ABC\r\n"})").object());
        EXPECT_EQ(document["events"].toArray().size(), reader.table7Records);
        EXPECT_EQ(document["factory_config"].toArray(),
                  QJsonDocument::fromJson(R"([{"200":"1000"}])").array());
    }

    FakeReader reader;
    std::unique_ptr<DownloadMediator> mediator;
    QStringList documents;
    QStringList sensorIds;
    QStringList aborts;
    QEventLoop* running = nullptr;
    int expected = 0;
};

const std::vector<std::string> kWholeDownload = {kSchema, kConfigSchema, kTable6, kCalibration,
                                                 kTable7};

TEST_F(DownloadWorkerTest, TwoBeginDownloadsInARowGiveTwoDocumentsOneAfterTheOther) {
    attachReader();
    emit mediator->beginDownload();
    emit mediator->beginDownload();
    ASSERT_TRUE(waitForOutcomes(2));
    ASSERT_EQ(documents.size(), 2);
    for (const QString& document : documents) {
        expectDocument(document);
    }
    EXPECT_EQ(sensorIds, QStringList({"ABC", "ABC"}));
    std::vector<std::string> twice = kWholeDownload;
    twice.insert(twice.end(), kWholeDownload.begin(), kWholeDownload.end());
    EXPECT_EQ(reader.requests(), twice);
    // Sent from the client's own thread, so that a wait for credit stays bounded.
    EXPECT_EQ(reader.senderThreads(), std::vector<std::string>(10, "reader-sender"));
}

TEST_F(DownloadWorkerTest, EmptyTable6GivesTheEmptyTextAndNothingMoreIsAsked) {
    reader.table6Records = 0;
    attachReader();
    emit mediator->beginDownload();
    ASSERT_TRUE(waitForOutcomes(1));
    EXPECT_EQ(documents, QStringList({""}));
    EXPECT_TRUE(sensorIds[0].isNull());
    EXPECT_EQ(reader.requests(), std::vector<std::string>({kSchema, kConfigSchema, kTable6}));
}

TEST_F(DownloadWorkerTest, EmptyTable7IsAnEmptyArray) {
    reader.table7Records = 0;
    attachReader();
    emit mediator->beginDownload();
    ASSERT_TRUE(waitForOutcomes(1));
    ASSERT_EQ(documents.size(), 1);
    expectDocument(documents[0]);
}

// A reader removed during a download used to end in the empty text, which the window reports as
// "the sensor has no data".
TEST_F(DownloadWorkerTest, ReaderRemovedMidDownloadAbortsAndTheNextDownloadRuns) {
    const struct {
        const char* name;
        std::string removedOn;  // empty: no reader adopted when the download starts
        size_t requestsSent;
    } cases[] = {
        {"no reader", "", 0},
        {"schema", kSchema, 1},
        {"configuration schema", kConfigSchema, 2},
        {"table 6", kTable6, 3},
        {"calibration", kCalibration, 4},
        {"table 7", kTable7, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        documents.clear();
        aborts.clear();
        const size_t before = reader.requests().size();
        if (!c.removedOn.empty()) {
            reader.removeOn(c.removedOn);
            attachReader();
        }
        emit mediator->beginDownload();
        ASSERT_TRUE(waitForOutcomes(1));
        EXPECT_EQ(documents, QStringList());
        ASSERT_EQ(aborts.size(), 1);
        EXPECT_TRUE(aborts[0].contains("disconnected")) << qPrintable(aborts[0]);
        const std::vector<std::string> all = reader.requests();
        const std::vector<std::string> sent(all.begin() + before, all.end());
        EXPECT_EQ(sent, std::vector<std::string>(kWholeDownload.begin(),
                                                 kWholeDownload.begin() + c.requestsSent));

        attachReader();
        emit mediator->beginDownload();
        ASSERT_TRUE(waitForOutcomes(2));
        ASSERT_EQ(documents.size(), 1);
        expectDocument(documents[0]);
        reader.post([] { AAPOnTransportEvent(kReader, kXportRemove, 0, 0); });
    }
}

}  // namespace
