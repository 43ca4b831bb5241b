// DownloadMediator and DownloadWorker against a stand-in reader behind the real AAP layer and
// device client: the order of requests, the documents, and a reader removed mid-download.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <memory>

#include "export/download_mediator.h"
#include "tests/client/fake_reader.h"

namespace {

const std::string kSchema = Encoded(52);
const std::string kConfigSchema = Encoded(84);
const std::string kTable6 = Encoded(49, {6});
const std::string kCalibration = Encoded(81, {1});
const std::string kTable7 = Encoded(49, {7});
const std::vector<std::string> kWholeDownload = {kSchema, kConfigSchema, kTable6, kCalibration,
                                                 kTable7};

class DownloadWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mediator = std::make_unique<DownloadMediator>();
        QObject::connect(mediator.get(), &DownloadMediator::onResultsReady,
                         [this](QByteArray text, QString sensorId) {
                             documents.append(QString::fromLatin1(text));
                             sensorIds.append(sensorId);
                         });
        QObject::connect(mediator.get(), &DownloadMediator::onDownloadAborted,
                         [this](QString reason) { aborts.append(reason); });
    }
    void TearDown() override {
        fake.deliver({Removal()});
        // Waits for a download still running, before the transport goes.
        mediator.reset();
    }

    // The reader answers each request as it is sent, with table 6 and 7 holding these many
    // records; on removedOn it goes away instead.
    void answer(int table6, int table7, const std::string& removedOn = {}) {
        fake.setHook([=](size_t, const std::string& request) {
            if (request == removedOn) {
                fake.deliver({Removal()});
            } else if (request == kSchema) {
                fake.deliver({Msg(52, kHeaderTable), Msg(52, kBodyTable), Msg(52)});
            } else if (request == kConfigSchema) {
                fake.deliver({Msg(84, kConfigTable), Msg(84)});
            } else if (request == kTable6 || request == kTable7) {
                const bool six = request == kTable6;
                fake.deliver(RecordsAnswer(six ? 6 : 7, six ? table6 : table7));
            } else if (request == kCalibration) {
                fake.deliver({Msg(81, kConfigRecord)});
            }
        });
    }
    // Downloads and waits until the mediator has told `count` outcomes in all.
    bool download(int count) {
        QEventLoop loop;
        const auto told = [&] {
            if (documents.size() + aborts.size() >= count) {
                loop.quit();
            }
        };
        QObject::connect(mediator.get(), &DownloadMediator::onResultsReady, &loop, told);
        QObject::connect(mediator.get(), &DownloadMediator::onDownloadAborted, &loop, told);
        QTimer::singleShot(std::chrono::milliseconds(kPatience).count(), &loop, &QEventLoop::quit);
        emit mediator->beginDownload();
        loop.exec();
        return fake.settle() && documents.size() + aborts.size() == count;
    }
    // The requests sent since the first `from`, type 125 left out.
    std::vector<std::string> requests(size_t from = 0) {
        std::vector<std::string> sent;
        for (const std::string& bytes : fake.sends()) {
            if (bytes != Encoded(125)) {
                sent.push_back(bytes);
            }
        }
        return std::vector<std::string>(sent.begin() + std::min(from, sent.size()), sent.end());
    }
    void expectDocument(const QString& text, int table6, int table7) {
        const QJsonObject document = QJsonDocument::fromJson(text.toUtf8()).object();
        EXPECT_EQ(document.keys(),
                  QStringList({"events", "factory_config", "hostDateTime", "records"}));
        const QJsonArray records = document["records"].toArray();
        ASSERT_EQ(records.size(), table6);
        for (int n = 0; n < table6; ++n) {
            EXPECT_EQ(records[n].toObject(),
                      QJsonDocument::fromJson(QByteArray::fromStdString(RecordJson(n))).object());
        }
        EXPECT_EQ(document["events"].toArray().size(), table7);
        EXPECT_EQ(document["factory_config"].toArray(),
                  QJsonDocument::fromJson(R"([{"200":"1000"}])").array());
    }

    FakeReader fake;
    std::unique_ptr<DownloadMediator> mediator;
    QStringList documents;
    QStringList sensorIds;
    QStringList aborts;
};

TEST_F(DownloadWorkerTest, DocumentsOfTwoDownloadsInARow) {
    const struct {
        const char* name;
        int table6;
        int table7;
        std::vector<std::string> requests;
    } cases[] = {
        {"records and events", 3, 2, kWholeDownload},
        {"no events", 3, 0, kWholeDownload},
        // The empty text, which the window reports as "the sensor has no data".
        {"empty table 6", 0, 2, {kSchema, kConfigSchema, kTable6}},
    };
    fake.attach();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        documents.clear();
        sensorIds.clear();
        const size_t before = requests().size();
        answer(c.table6, c.table7);
        // The second is queued behind the first: downloads never overlap.
        emit mediator->beginDownload();
        ASSERT_TRUE(download(2));
        EXPECT_EQ(aborts, QStringList());
        std::vector<std::string> twice = c.requests;
        twice.insert(twice.end(), c.requests.begin(), c.requests.end());
        EXPECT_EQ(requests(before), twice);
        for (int i = 0; i < documents.size(); ++i) {
            if (c.table6 == 0) {
                EXPECT_EQ(documents[i], "");
            } else {
                expectDocument(documents[i], c.table6, c.table7);
            }
            EXPECT_EQ(sensorIds[i], c.table6 == 0 ? "" : "ABC");
        }
    }
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
        const size_t before = requests().size();
        if (!c.removedOn.empty()) {
            answer(3, 2, c.removedOn);
            fake.attach();
        }
        ASSERT_TRUE(download(1));
        EXPECT_EQ(documents, QStringList());
        ASSERT_EQ(aborts.size(), 1);
        EXPECT_TRUE(aborts[0].contains("disconnected")) << qPrintable(aborts[0]);
        EXPECT_EQ(requests(before),
                  std::vector<std::string>(kWholeDownload.begin(),
                                           kWholeDownload.begin() + c.requestsSent));
        answer(3, 2);
        fake.attach();
        ASSERT_TRUE(download(2));
        ASSERT_EQ(documents.size(), 1);
        expectDocument(documents[0], 3, 2);
        fake.deliver({Removal()});
    }
}

}  // namespace
