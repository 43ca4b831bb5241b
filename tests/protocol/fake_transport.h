// Stands in for the transport below the AAP layer: records every send and hands the layer what a
// test delivers. Sends may come from any thread; a delivery runs the layer's event handler on the
// caller's thread, as the transport's event thread would.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/aap_layer.h"
#include "tests/support/null_transport.h"

class FakeTransport final : public NullTransport {
public:
    struct Send {
        uint32_t deviceId;
        std::string bytes;
        bool text;
    };
    std::function<void(size_t)> onSend;  // runs on the sender's thread with the send's index
    int32_t readMsgResult = 0;           // other than 0: readMsg fails with it

    std::vector<Send> sends() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    // Waits until count sends were made; the cap only turns a hang into a failure.
    bool waitForSends(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return sent_.size() >= count; });
    }
    // Offers bytes to the layer's reads and raises event (text or message data) of a reader.
    void deliver(const std::string& bytes, uint32_t event, uint32_t deviceId) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            incoming_ = bytes;
        }
        AAPOnTransportEvent(deviceId, event, uint32_t(bytes.size()), 0);
    }
    std::vector<uint32_t> readIds;  // the reader each read named; delivering thread only

    int32_t writeText(uint32_t id, const uint8_t* text, uint32_t length) override {
        record({id, std::string(text, text + length), true});
        return int32_t(length);
    }
    int32_t writeMsg(uint32_t id, uint32_t, const uint8_t* bytes, uint32_t length) override {
        record({id, std::string(bytes, bytes + length), false});
        return 0;
    }
    int32_t readText(uint32_t id, uint8_t* buffer, uint32_t size) override {
        return int32_t(take(id, buffer, size));
    }
    int32_t readMsg(uint32_t id, uint32_t, uint8_t* buffer, uint32_t* size) override {
        *size = readMsgResult ? 0 : take(id, buffer, *size);
        return readMsgResult;
    }

private:
    void record(Send send) {
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = sent_.size();
            sent_.push_back(std::move(send));
        }
        changed_.notify_all();
        if (onSend) {
            onSend(index);
        }
    }
    uint32_t take(uint32_t id, uint8_t* buffer, uint32_t size) {
        readIds.push_back(id);
        std::lock_guard<std::mutex> lock(mutex_);
        const uint32_t n = std::min<uint32_t>(size, uint32_t(incoming_.size()));
        std::copy_n(incoming_.begin(), n, buffer);
        incoming_.erase(0, n);
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Send> sent_;
    std::string incoming_;
};
