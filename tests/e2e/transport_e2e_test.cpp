// The transport over the real HID layer and socket device against simulated readers, both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_answers.h"
#include "sim_folder.h"
#include "tests/support/eventually.h"
#include "transport/mal_trans_atp.h"

namespace {

// Caps on waits, so a broken link fails the test instead of hanging it; never a speed target.
constexpr int kPatienceMs = 30000;
constexpr int kStreamPatienceMs = 100000;
constexpr size_t kMiB = 1024 * 1024;
const std::vector<uint8_t> kClockRequest = AapEncode(kAAPDateTime, nullptr, 0);

struct Delivery {
    uint32_t deviceId;
    uint32_t event;
    uint32_t count;
};

// What the event callback was told and read: text of all readers together, messages by reader.
struct Seen {
    std::vector<Delivery> deliveries;
    std::map<uint32_t, std::vector<uint8_t>> messages;
    std::string text;
    bool holding = false;

    const std::vector<uint8_t>& of(uint32_t id) const {
        static const std::vector<uint8_t> none;
        const auto found = messages.find(id);
        return found == messages.end() ? none : found->second;
    }

    std::vector<uint32_t> ids(uint32_t event) const {
        std::vector<uint32_t> out;
        for (const Delivery& d : deliveries) {
            if (d.event == event) {
                out.push_back(d.deviceId);
            }
        }
        return out;
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
        seen_.deliveries.push_back({deviceId, event, count});
        uint8_t chunk[8192];
        for (uint32_t n = 1; data && n > 0;) {
            n = sizeof chunk;
            if (event == kXportTextData) {
                n = uint32_t(std::max(0, transport_->readText(deviceId, chunk, n)));
                seen_.text.append(chunk, chunk + n);
            } else if (transport_->readMsg(deviceId, 0, chunk, &n) == 0) {
                seen_.messages[deviceId].insert(seen_.messages[deviceId].end(), chunk, chunk + n);
            } else {
                n = 0;
            }
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

class TransportE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ATPTimingsForTest().addDelayMs = 0;
        HidTimingsForTest().scanIntervalMs = 50;
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

    // Opens the transport once the readers are plugged, and waits for their attaches.
    bool openAndAttach(size_t readers = 1) {
        hid = transport.open(kReaderFilters);
        return hid != nullptr && recorder.waitForEvents(kXportAttach, readers);
    }

    // Plugs a reader in the socket folder, kept until the test ends. Null on failure.
    ReaderSim* plugReader(const std::string& name, ReaderSimOptions options = {}) {
        readers.push_back(PlugReader(name, std::move(options)));
        return readers.back().get();
    }

    int32_t writeText(uint32_t id, const std::string& text) {
        return transport.writeText(id, reinterpret_cast<const uint8_t*>(text.data()),
                                   static_cast<uint32_t>(text.size()));
    }
    int32_t writeMsg(uint32_t id, const std::vector<uint8_t>& bytes) {
        return transport.writeMsg(id, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    // The reader behind id has received exactly this text command, as its connection-th.
    bool reaches(uint32_t id, ReaderSim* sim, const std::string& command, uint32_t connection) {
        const int32_t written = writeText(id, command + "\r\n");
        return written == int32_t(command.size() + 2) &&
               sim->waitUntil(
                   [&](const ReaderSimState& s) {
                       return s.connections == connection &&
                              s.textCommands == std::vector<std::string>{command};
                   },
                   kPatienceMs);
    }

    // Downloads a readings answer of at least bytes from each of readerCount readers at once,
    // over links with these faults, and compares each with the simulator's own.
    void streamReadings(size_t bytes, double drop, double corrupt, double duplicate,
                        uint32_t readerCount = 1) {
        DefaultScenarioParams params;
        params.records = ReadingsFor(bytes);
        ReaderSimOptions options;
        options.scenario = MakeDefaultScenario(params);
        options.window = 64;
        options.dropP = drop;
        options.corruptP = corrupt;
        options.duplicateP = duplicate;
        const std::vector<uint8_t> expected = AnswerTo(options.scenario, ReadingsRequest());
        std::vector<ReaderSim*> sims;
        for (uint32_t i = 0; i < readerCount; ++i) {
            sims.push_back(plugReader("stream" + std::to_string(i), options));
            ASSERT_NE(sims.back(), nullptr);
        }
        ASSERT_TRUE(openAndAttach(readerCount));
        for (uint32_t id = 0; id < readerCount; ++id) {
            ASSERT_EQ(writeMsg(id, ReadingsRequest()), 0);
        }
        for (uint32_t id = 0; id < readerCount; ++id) {
            ASSERT_TRUE(
                recorder.waitFor([&](const Seen& s) { return s.of(id).size() >= expected.size(); },
                                 kStreamPatienceMs))
                << recorder.seen().of(id).size() << " of " << expected.size() << " bytes";
            const std::vector<uint8_t> received = recorder.seen().of(id);
            const auto diff =
                std::mismatch(received.begin(), received.end(), expected.begin(), expected.end());
            EXPECT_TRUE(diff.first == received.end() && diff.second == expected.end())
                << "reader " << id << " differs from byte " << diff.first - received.begin();
        }
        // Every kind of fault really happened, and the host asked for what it missed.
        for (ReaderSim* sim : sims) {
            const LinkCounters counters = sim->state().counters;
            EXPECT_EQ(counters.dataDropped > 0, drop > 0);
            EXPECT_EQ(counters.dataCorrupted > 0, corrupt > 0);
            EXPECT_EQ(counters.dataDuplicated > 0, duplicate > 0);
            EXPECT_TRUE(drop == 0 || counters.fastResends > 0);
        }
    }

    Recorder recorder{&transport};
    MALTransATP transport;
    hidInterface* hid = nullptr;
    std::vector<std::unique_ptr<ReaderSim>> readers;
};

TEST_F(TransportE2e, ReadersAttachTakeFreeIdsAndAttachAgainWhenPluggedBack) {
    ReaderSim* a = plugReader("a");
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(openAndAttach());
    // Reported once the identity is in.
    ASSERT_TRUE(a->waitUntil([](const ReaderSimState& s) { return s.identityAcked; }, kPatienceMs));
    ASSERT_EQ(recorder.seen().deliveries.size(), 1u);
    EXPECT_EQ(recorder.seen().deliveries[0].deviceId, 0u);
    EXPECT_EQ(recorder.seen().deliveries[0].count, 0u);

    ReaderSim* b = plugReader("b");
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 2));
    EXPECT_EQ(transport.deviceCount(), 4);

    a->unplug();
    ASSERT_TRUE(recorder.waitForEvents(kXportRemove, 1));
    EXPECT_EQ(recorder.seen().ids(kXportRemove), std::vector<uint32_t>{0});
    // With slot 0 free, id 0 stands for the first reader in use.
    EXPECT_TRUE(reaches(0, b, "$ptname?", 1));

    ASSERT_TRUE(a->plug());
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 3));
    EXPECT_EQ(recorder.seen().ids(kXportAttach), (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_TRUE(reaches(0, a, "$sn?", 2));

    // A fifth reader grows the table, and its id addresses it.
    for (const char* name : {"c", "d", "e"}) {
        ASSERT_NE(plugReader(name), nullptr);
    }
    ASSERT_TRUE(recorder.waitForEvents(kXportAttach, 6));
    std::vector<uint32_t> ids = recorder.seen().ids(kXportAttach);
    std::sort(ids.begin() + 3, ids.end());
    EXPECT_EQ(ids, (std::vector<uint32_t>{0, 1, 0, 2, 3, 4}));
    EXPECT_EQ(transport.deviceCount(), 8);
    const std::string path = transport.deviceAt(4)->hidDevice->platformPath;
    const auto fifth = std::find_if(readers.begin() + 2, readers.end(),
                                    [&](const auto& sim) { return sim->socketPath() == path; });
    ASSERT_NE(fifth, readers.end()) << path;
    EXPECT_TRUE(reaches(4, fifth->get(), "$sn?", 1));
    EXPECT_EQ(recorder.seen().ids(kXportRemove), std::vector<uint32_t>{0});
}

// Two readers at once, each with its own acknowledgement tick on its own read thread.
TEST_F(TransportE2e, MessageStreamsOfOneMiBFromTwoReadersArriveCompleteAndInOrder) {
    streamReadings(kMiB, 0, 0, 0, 2);
}

// A quarter of the clean size: when a resent packet is lost again, the reader waits for its
// 300 ms timer, which costs about 30 s per MiB at these rates.
TEST_F(TransportE2e, MessageStreamSurvivesDropsCorruptionAndDuplicates) {
    streamReadings(kMiB / 4, 0.05, 0.02, 0.02);
}

// The reader rejects, and credits, everything after a lost packet (sequence number 3); a host
// that ran more than half the sequence space ahead would take the loss for acknowledged. A
// clock request right behind the message shows a lost or extra byte at the boundary.
TEST_F(TransportE2e, LongHostMessageWithALostPacketArrivesWholeAndTheLinkLivesOn) {
    ReaderSimOptions options;
    options.scenario = MakeDefaultScenario(DefaultScenarioParams());
    options.hostWindow = 4;
    options.loseHostPacket = 4;
    ReaderSim* sim = plugReader("r", options);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(openAndAttach());

    std::vector<uint8_t> payload(200 * kATPMaxDataPayload);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    const std::vector<uint8_t> large = AapEncode(200, payload);
    ASSERT_EQ(writeMsg(0, large), 0);
    ASSERT_EQ(writeMsg(0, kClockRequest), 0);
    ASSERT_TRUE(sim->waitUntil([](const ReaderSimState& s) { return s.requests.size() >= 2; },
                               kPatienceMs));
    const ReaderSimState state = sim->state();
    ASSERT_EQ(state.requests.size(), 2u);
    EXPECT_EQ(state.requests[0].type, 200);
    EXPECT_TRUE(state.requests[0].payload == payload);
    EXPECT_EQ(state.requests[1].type, kAAPDateTime);
    EXPECT_EQ(state.counters.hostDataLost, 1u);
    std::vector<uint8_t> answers = AnswerTo(options.scenario, large);
    const std::vector<uint8_t> clockAnswer = AnswerTo(options.scenario, kClockRequest);
    answers.insert(answers.end(), clockAnswer.begin(), clockAnswer.end());
    ASSERT_TRUE(recorder.waitFor([&](const Seen& s) { return s.of(0).size() >= answers.size(); }));
    EXPECT_EQ(recorder.seen().of(0), answers);
}

TEST_F(TransportE2e, RemovalWithDataEventsQueuedDeliversThemFirst) {
    ReaderSimOptions options;
    options.scenario = MakeDefaultScenario(DefaultScenarioParams());
    options.hostWindow = 1;
    ReaderSim* sim = plugReader("r", options);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(openAndAttach());
    const size_t before = recorder.seen().deliveries.size();

    const std::string command = "$sn?\r\n";
    const std::vector<uint8_t> nothing = AapEncode(kAAPEndOfRequest, nullptr, 0);
    recorder.holdNextDataEvent();
    // With one credit, each packet waits for the credit the reader grants on receiving the one
    // before, and the reader sends its answer to a packet before it reads the next. So once the
    // fourth is out, the text reply and the clock answer have passed the host's read thread.
    ASSERT_EQ(writeText(0, command), static_cast<int32_t>(command.size()));
    ASSERT_EQ(writeMsg(0, kClockRequest), 0);
    ASSERT_EQ(writeMsg(0, nothing), 0);
    ASSERT_EQ(writeMsg(0, nothing), 0);
    ASSERT_TRUE(recorder.waitFor([](const Seen& s) { return s.holding; }));

    sim->unplug();
    // The second scan to finish after the unplug began after it, missed the socket and posted
    // the removal. The HID layer offers nothing to wait on, so its scan counter is polled.
    const uint32_t scans = hid->scans;
    ASSERT_TRUE(Eventually([&] { return hid->scans >= scans + 2; })) << "HID stopped scanning";
    recorder.release();
    ASSERT_TRUE(recorder.waitForEvents(kXportRemove, 1));

    const Seen seen = recorder.seen();
    ASSERT_GE(seen.deliveries.size(), before + 3);
    EXPECT_EQ(seen.deliveries.back().event, kXportRemove);
    const std::vector<uint8_t> clockAnswer = AnswerTo(options.scenario, kClockRequest);
    std::vector<uint32_t> messageCounts;  // counted when delivered: the ring was still there
    for (size_t i = before; i + 1 < seen.deliveries.size(); ++i) {
        const uint32_t event = seen.deliveries[i].event;
        EXPECT_TRUE(event == kXportTextData || event == kXportMsgData) << i;
        if (event == kXportMsgData) {
            messageCounts.push_back(seen.deliveries[i].count);
        }
    }
    EXPECT_EQ(messageCounts, std::vector<uint32_t>{uint32_t(clockAnswer.size())});
    EXPECT_EQ(seen.text, ReplyTo(options.scenario, command));
    EXPECT_EQ(seen.of(0), clockAnswer);
}

// A reader that falls silent grants no more credit; its removal ends the write that waits.
TEST_F(TransportE2e, RemovalEndsAWriteThatWaitsForCredit) {
    ReaderSimOptions options;
    options.hostWindow = 1;
    options.silentAfterPackets = 1;
    ReaderSim* sim = plugReader("r", options);
    ASSERT_NE(sim, nullptr);
    ASSERT_TRUE(openAndAttach());
    ASSERT_EQ(writeMsg(0, kClockRequest), 0);
    ASSERT_TRUE(sim->waitUntil([](const ReaderSimState& s) { return s.silent; }, kPatienceMs));
    auto write = std::async(std::launch::async, [this] {
        return writeMsg(0, AapEncode(200, std::vector<uint8_t>(4 * kATPMaxDataPayload)));
    });
    EXPECT_EQ(write.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    sim->unplug();
    ASSERT_TRUE(recorder.waitForEvents(kXportRemove, 1));
    ASSERT_EQ(write.wait_for(std::chrono::milliseconds(kPatienceMs)), std::future_status::ready);
}

}  // namespace
