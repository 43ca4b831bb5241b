// DownloadMediator and DownloadWorker against a stand-in reader: requests, documents, removals.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTest>
#include <memory>

#include "export/download_mediator.h"
#include "tests/client/fake_reader.h"

namespace {

// The sensor id and document that a download of table6 and table7 records gives, without its
// "hostDateTime"; the empty text without sensor id when table 6 is empty.
QString Outcome(int table6, int table7) {
    const auto list = [](int count) {
        QStringList records;
        for (int n = 0; n < count; ++n) {
            records.append(QString::fromStdString(RecordJson(n)));
        }
        return records.join(',');
    };
    return table6 == 0
               ? " "
               : R"(ABC {"events":[)" + list(table7) +
                     R"(],"factory_config":[{"200":"1000"}],"records":[)" + list(table6) + "]}";
}

const QString kReaderGone =
    "aborted: The reader was disconnected before the download finished. Nothing was saved.";
const std::vector<std::string> kWholeDownload = {
    kSchemaRequest, kConfigSchemaRequest, kTable6Request, kCalibrationRequest, kTable7Request};

class DownloadWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        mediator = std::make_unique<DownloadMediator>();
        QObject::connect(mediator.get(), &DownloadMediator::onResultsReady,
                         [this](QByteArray text, QString sensorId) {
                             outcomes.append(sensorId + " " +
                                             QString::fromLatin1(text).remove(QRegularExpression(
                                                 R"("hostDateTime":\{[^}]*\},)")));
                         });
        QObject::connect(mediator.get(), &DownloadMediator::onDownloadAborted,
                         [this](QString reason) { outcomes.append("aborted: " + reason); });
    }
    void TearDown() override {
        fake.deliver({Removal()});
        // Waits for a download still running, before the transport goes.
        mediator.reset();
    }

    // Downloads and waits until the mediator has told `count` outcomes in all.
    bool download(int count) {
        emit mediator->beginDownload();
        const bool told = QTest::qWaitFor([&] { return outcomes.size() >= count; },
                                          int(std::chrono::milliseconds(kPatience).count()));
        return fake.settle() && told && outcomes.size() == count;
    }
    // The requests sent since the first `from`, type 125 left out.
    std::vector<std::string> requests(size_t from = 0) {
        std::vector<std::string> sent;
        for (const std::string& bytes : fake.sentBytes()) {
            if (bytes != Encoded(125)) {
                sent.push_back(bytes);
            }
        }
        return std::vector<std::string>(sent.begin() + std::min(from, sent.size()), sent.end());
    }

    FakeReader fake;
    std::unique_ptr<DownloadMediator> mediator;
    QStringList outcomes;
};

TEST_F(DownloadWorkerTest, DocumentsOfTwoDownloadsInARow) {
    const struct {
        const char* name;
        int table6;
        int table7;
        std::vector<std::string> requests;
    } cases[] = {
        {"no events", 3, 0, kWholeDownload},
        // The empty text, which the window reports as "the sensor has no data".
        {"empty table 6", 0, 2, {kSchemaRequest, kConfigSchemaRequest, kTable6Request}},
    };
    fake.attach();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        outcomes.clear();
        const size_t before = requests().size();
        fake.answerDownload(c.table6, c.table7);
        // The second is queued behind the first: downloads never overlap.
        emit mediator->beginDownload();
        ASSERT_TRUE(download(2));
        EXPECT_EQ(outcomes,
                  QStringList({Outcome(c.table6, c.table7), Outcome(c.table6, c.table7)}));
        std::vector<std::string> twice = c.requests;
        twice.insert(twice.end(), c.requests.begin(), c.requests.end());
        EXPECT_EQ(requests(before), twice);
    }
}

// A removal mid-download used to end in the empty text, reported as "the sensor has no data".
TEST_F(DownloadWorkerTest, ReaderRemovedMidDownloadAbortsAndTheNextDownloadRuns) {
    const struct {
        const char* name;
        std::string removedOn;  // empty: no reader adopted when the download starts
        size_t requestsSent;
    } cases[] = {
        {"no reader", "", 0},
        {"schema", kSchemaRequest, 1},
        {"configuration schema", kConfigSchemaRequest, 2},
        {"table 6", kTable6Request, 3},
        {"calibration", kCalibrationRequest, 4},
        {"table 7", kTable7Request, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        outcomes.clear();
        const size_t before = requests().size();
        if (!c.removedOn.empty()) {
            fake.answerDownload(3, 2, c.removedOn);
            fake.attach();
        }
        ASSERT_TRUE(download(1));
        EXPECT_EQ(requests(before),
                  std::vector<std::string>(kWholeDownload.begin(),
                                           kWholeDownload.begin() + c.requestsSent));
        fake.answerDownload(3, 2);
        fake.attach();
        ASSERT_TRUE(download(2));
        EXPECT_EQ(outcomes, QStringList({kReaderGone, Outcome(3, 2)}));
        fake.deliver({Removal()});
    }
}

}  // namespace
