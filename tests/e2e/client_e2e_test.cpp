// DeviceClient through the whole stack (AAP layer, transport, HID over the socket device) against
// simulated readers, with the application's callbacks installed as main installs them. Requests
// run on the test thread, as the window and the download worker run them on theirs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QJsonDocument>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "expected_json.h"
#include "hid/hid.h"
#include "protocol/aap_layer.h"
#include "temp_dir.h"
#include "tools/reader-sim/reader_sim.h"
#include "transport/mal_trans_atp.h"

namespace {

// Month names follow the system locale; the expected texts are the C locale's.
const bool kCLocale = setenv("LC_ALL", "C", 1) == 0;
// Caps on waits, so a fault fails the test instead of hanging it; never a speed target.
constexpr int kPatienceMs = 30000;
// Long enough that a clean link never repeats, short enough that a repeat costs little.
constexpr int kRepeatMs = 1000;

// The client's signals, counted on the transport's event thread where they are emitted.
struct Announcements {
    std::mutex mutex;
    std::condition_variable changed;
    int connected = 0;
    int disconnected = 0;

    void count(int Announcements::*which) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++(this->*which);
        }
        changed.notify_all();
    }
    bool waitFor(int Announcements::*which, int atLeast) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kPatienceMs),
                                [&] { return this->*which >= atLeast; });
    }
    int get(int Announcements::*which) {
        std::lock_guard<std::mutex> lock(mutex);
        return this->*which;
    }
};
Announcements announcements;

// The HID backend and the transport start once per process, so the socket folder and the stack
// exist before any test.
class Stack : public ::testing::Environment {
public:
    static TempDir* folder;
    void SetUp() override {
        folder = new TempDir;
        logPath_ = folder->path() + ".log";
        setenv("LUMORA_HID_SOCKET_DIR", folder->path().c_str(), 1);
        // A lossy link logs every dropped packet; keep that out of the test output.
        setenv("LUMORA_DEBUG_LOG", logPath_.c_str(), 1);
        HidTimingsForTest().scanIntervalMs = 50;
        ATPTimingsForTest().addDelayMs = 10;
        DeviceClient::setRequestRepeatMsForTest(kRepeatMs);
        DeviceClient* client = DeviceClient::instance();
        QObject::connect(
            client, &DeviceClient::onConnected, client,
            [] { announcements.count(&Announcements::connected); }, Qt::DirectConnection);
        QObject::connect(
            client, &DeviceClient::onDisconnected, client,
            [] { announcements.count(&Announcements::disconnected); }, Qt::DirectConnection);
        AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
                onReaderDebugPrint, nullptr);
    }
    void TearDown() override {
        if (theTransport) {
            theTransport->close();
        }
        delete folder;
        std::remove(logPath_.c_str());
    }

private:
    std::string logPath_;
};
TempDir* Stack::folder = nullptr;
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Stack);

std::string Json(const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

std::shared_ptr<const Scenario> WorkedExample() {
    std::string error;
    auto scenario = LoadScenario("worked-example", {}, &error);
    EXPECT_TRUE(scenario) << error;
    return scenario;
}

std::shared_ptr<const Scenario> DefaultReader(uint32_t records) {
    DefaultScenarioParams params;
    params.records = records;
    params.events = 8;
    return MakeDefaultScenario(params);
}

ByteStrings TableBytes(const std::vector<TableDef>& tables) {
    ByteStrings out;
    for (const TableDef& table : tables) {
        out.push_back(EncodeSchemaTable(table));
    }
    return out;
}

std::string ExpectedTable(const Scenario& scenario, uint8_t tableId) {
    ByteStrings records;
    const auto table = scenario.tables.find(tableId);
    for (uint32_t i = 0; table != scenario.tables.end() && i < table->second.count; ++i) {
        records.push_back(table->second.record(i));
    }
    return Json(ExpectedRecordsJson(TableBytes(scenario.schema), records, false));
}

std::string ExpectedConfig(const Scenario& scenario, uint8_t id) {
    return Json(ExpectedRecordsJson(TableBytes(scenario.configSchema),
                                    {scenario.configRecords.at(id)}, true));
}

// The requests the reader saw, each as its type and payload bytes; a repeat collapses into one.
std::vector<std::string> RequestOrder(const ReaderSimState& state) {
    std::vector<std::string> order;
    for (const AapMessage& request : state.requests) {
        std::string text = std::to_string(request.type);
        for (uint8_t byte : request.payload) {
            text += " " + std::to_string(byte);
        }
        if (order.empty() || order.back() != text) {
            order.push_back(text);
        }
    }
    return order;
}

class ClientE2E : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kCLocale); }
    void TearDown() override {
        if (sim_ && sim_->state().plugged) {
            unplug();
        }
    }

    // Plugs a simulated reader in and waits until the client announces it.
    void plugIn(ReaderSimOptions options) {
        static int readers = 0;
        options.dir = Stack::folder->path();
        options.name = "r" + std::to_string(++readers);
        options.log = false;
        const int before = announcements.get(&Announcements::connected);
        sim_ = std::make_unique<ReaderSim>(options);
        std::string error;
        ASSERT_TRUE(sim_->start(&error)) << error;
        ASSERT_TRUE(announcements.waitFor(&Announcements::connected, before + 1));
    }
    void unplug() {
        const int before = announcements.get(&Announcements::disconnected);
        sim_->unplug();
        ASSERT_TRUE(announcements.waitFor(&Announcements::disconnected, before + 1));
    }

    DeviceClient& client = *DeviceClient::instance();
    std::unique_ptr<ReaderSim> sim_;
};

TEST_F(ClientE2E, SerialNumberAndSubjectName) {
    ReaderSimOptions options;
    options.scenario = WorkedExample();
    plugIn(options);
    EXPECT_EQ(client.requestSerialNumber().toStdString(), "EX00000001");
    EXPECT_EQ(client.requestSubjectName().toStdString(), "Example Subject");
}

TEST_F(ClientE2E, ClockOfTheWorkedExample) {
    ReaderSimOptions options;
    options.scenario = WorkedExample();
    plugIn(options);
    EXPECT_EQ(client.requestDateTime().toStdString(), "05 Mar 2021 07:08:09");
}

TEST_F(ClientE2E, DownloadInOrderGivesWhatTheScenarioEncodes) {
    // The expectation is computed, so first pin it to the worked example's known record.
    EXPECT_EQ(ExpectedTable(*WorkedExample(), 6),
              R"([{"0":"7","100":"-1","8":"5","90":"ABC\r\n"}])");
    const struct {
        const char* name;
        std::shared_ptr<const Scenario> scenario;
        double drop, corrupt, duplicate;
    } cases[] = {
        {"worked example", WorkedExample(), 0, 0, 0},
        {"default reader on a lossy link", DefaultReader(40), 0.05, 0.02, 0.02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderSimOptions options;
        options.scenario = c.scenario;
        options.dropP = c.drop;
        options.corruptP = c.corrupt;
        options.duplicateP = c.duplicate;
        plugIn(options);

        EXPECT_EQ(client.requestSchema().toStdString(), "");
        EXPECT_EQ(client.requestConfigurationSchema().toStdString(), "");
        EXPECT_EQ(Json(client.requestDatabaseRecords(6)), ExpectedTable(*c.scenario, 6));
        EXPECT_EQ(Json(client.requestCalibrationConfig(1)), ExpectedConfig(*c.scenario, 1));
        EXPECT_EQ(Json(client.requestDatabaseRecords(7)), ExpectedTable(*c.scenario, 7));
        EXPECT_TRUE(client.hasSchema());
        EXPECT_TRUE(client.hasConfigSchema());
        EXPECT_TRUE(client.hasResults());

        const ReaderSimState state = sim_->state();
        EXPECT_EQ(RequestOrder(state),
                  (std::vector<std::string>{"52", "84", "49 6", "81 1", "49 7"}));
        if (c.drop > 0) {
            EXPECT_GT(state.counters.dataDropped + state.counters.dataCorrupted +
                          state.counters.dataDuplicated,
                      0u)
                << "the link was not lossy";
        }
        unplug();
    }
}

TEST_F(ClientE2E, AnAapErrorMakesTheRequestRepeatAndComplete) {
    ReaderSimOptions options;
    options.scenario = WorkedExample();
    options.aapErrorOnce = 52;
    plugIn(options);
    client.requestSchema();
    // Records decode only against a complete schema.
    EXPECT_EQ(Json(client.requestDatabaseRecords(6)), ExpectedTable(*options.scenario, 6));
    int schemaRequests = 0;
    for (const AapMessage& request : sim_->state().requests) {
        schemaRequests += request.type == 52;
    }
    EXPECT_EQ(schemaRequests, 2);
}

TEST_F(ClientE2E, ArrivalAndRemovalAreAnnounced) {
    const int connected = announcements.get(&Announcements::connected);
    const int disconnected = announcements.get(&Announcements::disconnected);
    ReaderSimOptions options;
    plugIn(options);
    unplug();
    std::string error;
    ASSERT_TRUE(sim_->plug(&error)) << error;
    EXPECT_TRUE(announcements.waitFor(&Announcements::connected, connected + 2));
    EXPECT_EQ(announcements.get(&Announcements::disconnected), disconnected + 1);
}

// Last: the AAP layer continues a message cut off by a removal with the next reader's bytes.
TEST_F(ClientE2E, UnpluggingDuringATableRequestEndsItEmpty) {
    ReaderSimOptions options;
    options.scenario = DefaultReader(100000);
    options.paceMs = 1;  // a table that takes minutes
    plugIn(options);
    client.requestSchema();
    const uint64_t sentBefore = sim_->state().counters.dataSent;
    auto records =
        std::async(std::launch::async, [this] { return Json(client.requestDatabaseRecords(6)); });
    ASSERT_TRUE(sim_->waitUntil(
        [&](const ReaderSimState& s) { return s.counters.dataSent >= sentBefore + 20; },
        kPatienceMs));
    unplug();
    ASSERT_EQ(records.wait_for(std::chrono::milliseconds(kPatienceMs)), std::future_status::ready);
    EXPECT_EQ(records.get(), "[]");
}

}  // namespace
