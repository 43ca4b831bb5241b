// Stands in for the transport below the AAP layer: records every send and hands the layer what
// a test delivers, on the delivering thread (which then plays the transport's event thread).
// Sends may come from any thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/aap_layer.h"
#include "transport/mal_transport_manager.h"

class RecordingTransport : public MALTransportManager {
public:
    struct Send {
        uint32_t deviceId;
        std::string bytes;
        bool text;
    };
    // Runs on the sending thread after each send is recorded, with its index and bytes.
    using Hook = std::function<void(size_t index, const std::string& bytes)>;
    // Upper bound on any wait, so a fault fails the test instead of hanging it.
    static constexpr std::chrono::seconds kPatience{20};

    int32_t readMsgResult = kXportOk;  // other than kXportOk: readMsg fails with it
    std::vector<uint32_t> readIds;     // the reader each read named; delivering thread only

    void setHook(Hook hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }
    std::vector<Send> sends() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    std::vector<std::string> sentBytes() {
        std::vector<std::string> bytes;
        for (const Send& send : sends()) {
            bytes.push_back(send.bytes);
        }
        return bytes;
    }
    bool waitForSends(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return sent_.size() >= count; });
    }
    // Waits until no hook runs, so that the next event comes from one thread at a time.
    bool settle() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return hooksRunning_ == 0; });
    }
    // Offers bytes to the layer's reads and raises event of a reader.
    void deliver(uint32_t deviceId, uint32_t event, const std::string& bytes,
                 uint32_t reserved = 0) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            incoming_ = bytes;
        }
        AAPOnTransportEvent(deviceId, event, uint32_t(bytes.size()), reserved);
    }

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

    // The rest does nothing.
    hidInterface* open(const HidDeviceFilter*) override { return nullptr; }
    void close() override {}
    void setEventCallback(TransportEventCallback) override {}
    int32_t getVersion(char*, uint32_t) override { return 1; }
    void restartLink(uint32_t) override {}
    void OnDeviceAttach(uint32_t) override {}
    void OnDeviceRemove(uint32_t) override {}
    void OnDebugPrint(const char*) override {}
    void OnReceiveReport(int32_t, const uint8_t*, int32_t) override {}
    void OnReceiveATP(uint32_t, const uint8_t*) override {}

private:
    void record(Send send) {
        Hook hook;
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = sent_.size();
            sent_.push_back(send);
            hook = hook_;
            hooksRunning_ += hook ? 1 : 0;
            changed_.notify_all();
        }
        if (hook) {
            hook(index, send.bytes);
            std::lock_guard<std::mutex> lock(mutex_);
            --hooksRunning_;
            changed_.notify_all();
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
    Hook hook_;
    int hooksRunning_ = 0;
};
