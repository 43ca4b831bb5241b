// The transport over the real HID layer and the socket device, against simulated readers: what
// the AAP layer hears, and what crosses the link both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_answers.h"
#include "temp_dir.h"
#include "tools/reader-sim/reader_sim.h"
#include "transport/mal_trans_atp.h"

namespace {

// Caps on waits, so a broken link fails the test instead of hanging it; never a speed target.
constexpr int kPatienceMs = 30000;
constexpr int kStreamPatienceMs = 100000;
constexpr size_t kMiB = 1024 * 1024;

// The HID backend is chosen once per process, so the socket folder exists before any test.
class SocketFolder : public ::testing::Environment {
public:
    static TempDir* folder;
    void SetUp() override {
        folder = new TempDir;
        logPath_ = folder->path() + ".log";
        TestSetEnv("LUMORA_HID_SOCKET_DIR", folder->path().c_str());
        // A faulty link logs every dropped packet; keep that out of the test output.
        TestSetEnv("LUMORA_DEBUG_LOG", logPath_.c_str());
    }
    void TearDown() override {
        delete folder;
        std::remove(logPath_.c_str());
    }

private:
    std::string logPath_;
};
TempDir* SocketFolder::folder = nullptr;
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SocketFolder);

struct Delivery {
    uint32_t deviceId;
    uint32_t event;
    uint32_t count;
};

// Everything the event callback has been told, and the bytes it read from the rings then.
struct Seen {
    std::vector<Delivery> deliveries;
    std::map<uint32_t, std::vector<uint8_t>> messages;
    std::map<uint32_t, std::string> texts;
    bool holding = false;

    std::vector<uint32_t> ids(uint32_t event) const {
        std::vector<uint32_t> out;
        for (const Delivery& d : deliveries) {
            if (d.event == event) {
                out.push_back(d.deviceId);
            }
        }
        return out;
    }
    size_t messageBytes(uint32_t deviceId) const {
        auto it = messages.find(deviceId);
        return it == messages.end() ? 0 : it->second.size();
    }
};

// Plays the AAP layer: reads each reader's rings when told of data, as the real one does.
// Called on the transport's event thread; can hold that thread on the next data event.
class Recorder {
public:
    explicit Recorder(MALTransATP* transport) : transport_(transport) {}

    void deliver(uint32_t deviceId, uint32_t event, uint32_t count) {
        const bool data = event == kXportTextData || event == kXportMsgData;
        std::unique_lock<std::mutex> lock(mutex_);
        if (data && holdNext_) {
            seen_.holding = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !holdNext_; });
            seen_.holding = false;
        }
        lock.unlock();
        std::vector<uint8_t> bytes;
        if (data) {
            uint8_t chunk[8192];
            for (;;) {
                uint32_t n = sizeof chunk;
                if (event == kXportTextData) {
                    n = static_cast<uint32_t>(transport_->readText(deviceId, chunk, n));
                } else if (transport_->readMsg(deviceId, 0, chunk, &n) != 0) {
                    n = 0;
                }
                if (n == 0) {
                    break;
                }
                bytes.insert(bytes.end(), chunk, chunk + n);
            }
        }
        lock.lock();
        seen_.deliveries.push_back({deviceId, event, count});
        if (event == kXportTextData) {
            seen_.texts[deviceId].append(bytes.begin(), bytes.end());
        } else if (event == kXportMsgData) {
            auto& stream = seen_.messages[deviceId];
            stream.insert(stream.end(), bytes.begin(), bytes.end());
        }
        changed_.notify_all();
    }

    // done runs under the recorder's lock.
    bool waitFor(const std::function<bool(const Seen&)>& done, int timeoutMs = kPatienceMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return done(seen_); });
    }
    bool waitForEvents(uint32_t event, size_t n) {
        return waitFor([&](const Seen& s) { return s.ids(event).size() >= n; });
    }
    Seen seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    // The next text or message event stays in the callback until release().
    void holdNextDataEvent() {
        std::lock_guard<std::mutex> lock(mutex_);
        holdNext_ = true;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        holdNext_ = false;
        changed_.notify_all();
    }

private:
    MALTransATP* transport_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Seen seen_;
    bool holdNext_ = false;
};

// The callback has no context argument; one test runs at a time.
Recorder* gRecorder = nullptr;

int OnTransportEvent(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t) {
    if (gRecorder) {
        gRecorder->deliver(deviceId, event, count);
    }
    return 0;
}

// A default reader whose readings answer holds at least bytes.
std::shared_ptr<const Scenario> ScenarioWithReadings(size_t bytes) {
    DefaultScenarioParams params;
    params.records = ReadingsFor(bytes);
    return MakeDefaultScenario(params);
}

// Index of the first byte that differs, or the shorter size.
size_t FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return static_cast<size_t>(
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first -
        a.begin());
}

class TransportE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ATPTimingsForTest().addDelayMs = 0;
        HidTimings hid;
        hid.scanIntervalMs = 50;
        HidTimingsForTest() = hid;
        gRecorder = &recorder;
        transport.setEventCallback(OnTransportEvent);
    }
    void TearDown() override {
        // A test that failed while holding the event thread must not hang close().
        recorder.release();
        transport.close();
        readers.clear();
        gRecorder = nullptr;
        ATPTimingsForTest() = ATPTimings();
        HidTimingsForTest() = HidTimings();
    }

    bool open() {
        hid = transport.open(kReaderFilters);
        return hid != nullptr;
    }

    // Plugs a reader in the socket folder; tweak adjusts its options first. Null on failure.
    ReaderSim* plugReader(const std::string& name,
                          const std::function<void(ReaderSimOptions&)>& tweak = {}) {
        ReaderSimOptions options;
        options.dir = SocketFolder::folder->path();
        options.name = name;
        options.log = false;
        if (tweak) {
            tweak(options);
        }
        auto sim = std::make_unique<ReaderSim>(options);
        std::string error;
        if (!sim->start(&error)) {
            ADD_FAILURE() << "reader " << name << ": " << error;
            return nullptr;
        }
        readers.push_back(std::move(sim));
        return readers.back().get();
    }

    // Returns once the HID layer has posted the removal of an unplugged reader: the second scan
    // to finish after the unplug began after it, missed the socket and posted the removal. The
    // HID layer offers nothing to wait on, so its scan counter is polled.
    void waitUntilRemovalPosted() {
        const uint32_t start = hid->scans;
        for (int i = 0; i < kPatienceMs && hid->scans < start + 2; ++i) {
            OsSleep(1);
        }
        ASSERT_GE(hid->scans, start + 2) << "HID stopped scanning";
    }

    int32_t writeText(uint32_t id, const std::string& text) {
        return transport.writeText(id, reinterpret_cast<const uint8_t*>(text.data()),
                                   static_cast<uint32_t>(text.size()));
    }
    int32_t writeMsg(uint32_t id, const std::vector<uint8_t>& bytes) {
        return transport.writeMsg(id, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    // Sends a message of type 200 carrying payload with a clock request right behind it (so a
    // lost or extra byte at the boundary shows); both must reach the reader whole and in order,
    // and both answers come back over the same link. *state: the reader's, once both are in.
    void sendLargeThenClock(ReaderSim& sim, const std::shared_ptr<const Scenario>& scenario,
                            const std::vector<uint8_t>& payload, ReaderSimState* state) {
        const std::vector<uint8_t> large = AapEncode(200, payload);
        const std::vector<uint8_t> clock = AapEncode(kAapClock, nullptr, 0);
        ASSERT_EQ(writeMsg(0, large), 0);
        ASSERT_EQ(writeMsg(0, clock), 0);
        ASSERT_TRUE(sim.waitUntil([](const ReaderSimState& s) { return s.requests.size() >= 2; },
                                  kPatienceMs));
        *state = sim.state();
        ASSERT_EQ(state->requests.size(), 2u);
        EXPECT_EQ(state->requests[0].type, 200);
        EXPECT_TRUE(state->requests[0].payload == payload);
        EXPECT_EQ(state->requests[1].type, kAapClock);
        std::vector<uint8_t> answers = AnswerTo(scenario, large);
        const std::vector<uint8_t> clockAnswer = AnswerTo(scenario, clock);
        answers.insert(answers.end(), clockAnswer.begin(), clockAnswer.end());
        ASSERT_TRUE(
            recorder.waitFor([&](const Seen& s) { return s.messageBytes(0) >= answers.size(); }));
        EXPECT_EQ(recorder.seen().messages[0], answers);
    }

    // Downloads a readings answer of at least bytes and compares it with the simulator's own.
    void streamReadings(size_t bytes, const std::function<void(ReaderSimOptions&)>& faults,
                        LinkCounters* counters) {
        const auto scenario = ScenarioWithReadings(bytes);
        const std::vector<uint8_t> expected = AnswerTo(scenario, ReadingsRequest());
        ASSERT_GE(expected.size(), bytes);
        ReaderSim* sim = plugReader("stream", [&](ReaderSimOptions& o) {
            o.scenario = scenario;
            o.window = 64;
            faults(o);
        });
        ASSERT_NE(sim, nullptr);
        ASSERT_TRUE(open());
        ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));
        ASSERT_EQ(writeMsg(0, ReadingsRequest()), 0);
        ASSERT_TRUE(recorder.waitFor(
            [&](const Seen& s) { return s.messageBytes(0) >= expected.size(); }, kStreamPatienceMs))
            << recorder.seen().messageBytes(0) << " of " << expected.size() << " bytes";
        const std::vector<uint8_t> received = recorder.seen().messages[0];
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_EQ(FirstDifference(received, expected), expected.size());
        *counters = sim->state().counters;
    }

    Recorder recorder{&transport};
    MALTransATP transport;
    hidInterface* hid = nullptr;
    std::vector<std::unique_ptr<ReaderSim>> readers;
};

TEST_F(TransportE2e, AttachIsReportedOnceTheIdentityArrives) {
    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    ReaderSim* sim = plugReader("r", [&](ReaderSimOptions& o) { o.scenario = scenario; });
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));
    ASSERT_TRUE(
        sim->waitUntil([](const ReaderSimState& s) { return s.identityAcked; }, kPatienceMs));
    EXPECT_GE(sim->state().counters.identitiesSent, 1u);
    const Seen seen = recorder.seen();
    ASSERT_EQ(seen.deliveries.size(), 1u);
    EXPECT_EQ(seen.deliveries[0].deviceId, 0u);
    EXPECT_EQ(seen.deliveries[0].count, 0u);
    // The record's copy of the identity payload starts with the reader's text.
    const std::string identity = transport.deviceAt(0)->identity;
    EXPECT_EQ(identity.substr(0, scenario->identity.size()), scenario->identity);
    EXPECT_EQ(transport.deviceAt(0)->identityClass.load(), scenario->identityClass);
}

TEST_F(TransportE2e, MessageStreamOfOneMiBArrivesCompleteAndInOrder) {
    LinkCounters counters;
    streamReadings(
        kMiB, [](ReaderSimOptions&) {}, &counters);
    EXPECT_EQ(counters.dataDropped, 0u);
}

// A quarter of the clean case: when a resent packet is lost again, the reader waits for its
// 300 ms timer, which costs about 30 s per MiB at these rates.
TEST_F(TransportE2e, MessageStreamSurvivesDropsCorruptionAndDuplicates) {
    LinkCounters counters;
    streamReadings(
        kMiB / 4,
        [](ReaderSimOptions& o) {
            o.dropP = 0.05;
            o.corruptP = 0.02;
            o.duplicateP = 0.02;
        },
        &counters);
    // Every kind of fault really happened, and the host asked for what it missed.
    EXPECT_GT(counters.dataDropped, 0u);
    EXPECT_GT(counters.dataCorrupted, 0u);
    EXPECT_GT(counters.dataDuplicated, 0u);
    EXPECT_GT(counters.fastResends, 0u);
}

TEST_F(TransportE2e, HostMessagesArriveCompleteWhileReaderCreditIsScarce) {
    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    ReaderSim* sim = plugReader("r", [&](ReaderSimOptions& o) {
        o.scenario = scenario;
        o.hostWindow = 1;
    });
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));

    std::vector<uint8_t> payload(64 * 1024 + 1);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    ReaderSimState state;
    ASSERT_NO_FATAL_FAILURE(sendLargeThenClock(*sim, scenario, payload, &state));
    // Each packet went once: 56 bytes apiece, then the clock request's own.
    EXPECT_EQ(state.counters.hostDataAccepted, (AapEncode(200, payload).size() + 55) / 56 + 1);
}

// The reader rejects, and credits, everything after a lost packet; a host that ran more than
// half the sequence space ahead would take the loss for acknowledged and never resend it.
TEST_F(TransportE2e, LongHostMessageWithALostPacketArrivesWholeAndTheLinkLivesOn) {
    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    ReaderSim* sim = plugReader("r", [&](ReaderSimOptions& o) {
        o.scenario = scenario;
        o.loseHostPacket = 4;  // sequence number 3
    });
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));

    std::vector<uint8_t> payload(200 * kATPMaxDataPayload);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    }
    ReaderSimState state;
    ASSERT_NO_FATAL_FAILURE(sendLargeThenClock(*sim, scenario, payload, &state));
    EXPECT_EQ(state.counters.hostDataLost, 1u);
}

TEST_F(TransportE2e, ReadersGetIdsZeroAndOneAndAFifthGrowsTheTable) {
    ASSERT_NE(plugReader("r0"), nullptr);
    ASSERT_NE(plugReader("r1"), nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 2));
    std::vector<uint32_t> ids = recorder.seen().ids(kXportAttach);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(transport.deviceCount(), 4);

    for (const char* name : {"r2", "r3", "r4"}) {
        ASSERT_NE(plugReader(name), nullptr);
    }
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 5));
    ids = recorder.seen().ids(kXportAttach);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(transport.deviceCount(), 8);

    // Id 4 addresses the reader behind that record.
    const std::string path = transport.deviceAt(4)->hidDevice->platformPath;
    ReaderSim* fifth = nullptr;
    for (const auto& sim : readers) {
        fifth = sim->socketPath() == path ? sim.get() : fifth;
    }
    ASSERT_NE(fifth, nullptr) << path;
    EXPECT_NE(fifth, readers[0].get());
    EXPECT_NE(fifth, readers[1].get());
    EXPECT_EQ(writeText(4, "$sn?\r\n"), 6);
    EXPECT_TRUE(fifth->waitUntil(
        [](const ReaderSimState& s) { return s.textCommands == std::vector<std::string>{"$sn?"}; },
        kPatienceMs));
}

TEST_F(TransportE2e, UnplugReportsRemovalFreesTheSlotAndReplugAttachesAgain) {
    ReaderSim* first = plugReader("a");
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));
    ReaderSim* second = plugReader("b");
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 2));
    EXPECT_EQ(recorder.seen().ids(kXportAttach), (std::vector<uint32_t>{0, 1}));

    first->unplug();
    ASSERT_TRUE(recorder.waitForEvents(kXportRemove, 1));
    EXPECT_EQ(recorder.seen().ids(kXportRemove), std::vector<uint32_t>{0});
    // With slot 0 free, id 0 stands for the first reader in use.
    EXPECT_EQ(writeText(0, "$ptname?\r\n"), 10);
    EXPECT_TRUE(second->waitUntil(
        [](const ReaderSimState& s) { return s.textCommands.size() == 1; }, kPatienceMs));
    EXPECT_EQ(second->state().textCommands, std::vector<std::string>{"$ptname?"});

    ASSERT_TRUE(first->plug());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 3));
    EXPECT_EQ(recorder.seen().ids(kXportAttach), (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_EQ(transport.deviceCount(), 4);
    EXPECT_EQ(writeText(0, "$sn?\r\n"), 6);
    EXPECT_TRUE(first->waitUntil(
        [](const ReaderSimState& s) {
            return s.connections == 2 && s.textCommands == std::vector<std::string>{"$sn?"};
        },
        kPatienceMs));
    EXPECT_EQ(recorder.seen().ids(kXportRemove), std::vector<uint32_t>{0});
}

TEST_F(TransportE2e, RemovalWithDataEventsQueuedDeliversThemFirst) {
    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    ReaderSim* sim = plugReader("r", [&](ReaderSimOptions& o) {
        o.scenario = scenario;
        o.hostWindow = 1;
    });
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(open());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 1));
    const size_t before = recorder.seen().deliveries.size();

    const std::string command = "$sn?\r\n";
    const std::vector<uint8_t> clock = AapEncode(kAapClock, nullptr, 0);
    const std::vector<uint8_t> nothing = AapEncode(kAapEndOfRequest, nullptr, 0);
    recorder.holdNextDataEvent();
    // With one credit, each packet waits for the credit the reader grants on receiving the one
    // before, and the reader sends its answer to a packet before it reads the next. So once the
    // fourth is out, the text reply and the clock answer have passed the host's read thread.
    ASSERT_EQ(writeText(0, command), static_cast<int32_t>(command.size()));
    ASSERT_EQ(writeMsg(0, clock), 0);
    ASSERT_EQ(writeMsg(0, nothing), 0);
    ASSERT_EQ(writeMsg(0, nothing), 0);
    ASSERT_TRUE(recorder.waitFor([](const Seen& s) { return s.holding; }));

    sim->unplug();
    waitUntilRemovalPosted();
    recorder.release();
    ASSERT_TRUE(recorder.waitForEvents(kXportRemove, 1));

    const Seen seen = recorder.seen();
    const std::vector<Delivery> after(seen.deliveries.begin() + static_cast<long>(before),
                                      seen.deliveries.end());
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after.back().event, kXportRemove);
    const std::vector<uint8_t> clockAnswer = AnswerTo(scenario, clock);
    int messageEvents = 0;
    for (size_t i = 0; i + 1 < after.size(); ++i) {
        EXPECT_TRUE(after[i].event == kXportTextData || after[i].event == kXportMsgData) << i;
        if (after[i].event == kXportMsgData) {
            // Counted when delivered: the ring was still there.
            EXPECT_EQ(after[i].count, clockAnswer.size());
            ++messageEvents;
        }
    }
    EXPECT_EQ(messageEvents, 1);
    EXPECT_EQ(seen.texts.at(0), ReplyTo(scenario, command));
    EXPECT_EQ(seen.messages.at(0), clockAnswer);
}

}  // namespace
