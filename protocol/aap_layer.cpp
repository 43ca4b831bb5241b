#include "protocol/aap_layer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/debug_log.h"
#include "transport/mal_trans_atp.h"

namespace {

const char kReplyOk[] = "CMD OK\r\n";
const char kReplyFail[] = "CMD Fail!\r\n";
// Bytes kept from the end of gathered text so a terminator split across events is still found.
constexpr size_t kTerminatorTail = sizeof kReplyFail - 2;

struct AAPLayerState {
    // Written on the event thread, read by senders on any thread.
    std::atomic<uint32_t> adoptedDeviceId{kAAPNoDevice};
    std::atomic<MALTransportManager*> testTransport{nullptr};

    // Event thread only.
    std::unique_ptr<AAPMessage> pendingMessage;
    std::string textReplyBuffer;
    bool droppingText = false;  // the reply in progress outgrew the limit or lost text
    bool dropSaid = false;      // the dropped reply was already handed on as lost
    size_t droppedTextBytes = 0;

    // AAPInit may replace the callbacks while an event runs; events copy them under this lock.
    std::mutex callbackLock;
    AAPCallbacks callbacks;
};

// Never destroyed: the event thread may still deliver events while the process exits.
AAPLayerState& Layer() {
    static AAPLayerState* state = new AAPLayerState;
    return *state;
}

MALTransportManager* ActiveTransport() {
    MALTransportManager* test = Layer().testTransport.load();
    return test ? test : theTransport;
}

AAPCallbacks CallbackSnapshot() {
    AAPLayerState& layer = Layer();
    std::lock_guard<std::mutex> lock(layer.callbackLock);
    return layer.callbacks;
}

// Returns the end of the first status line at or after from, npos when there is none.
size_t FindReplyEnd(const std::string& text, size_t from) {
    const size_t ok = text.find(kReplyOk, from);
    const size_t fail = text.find(kReplyFail, from);
    if (ok == std::string::npos && fail == std::string::npos) {
        return std::string::npos;
    }
    return ok < fail ? ok + sizeof kReplyOk - 1 : fail + sizeof kReplyFail - 1;
}

void KeepTerminatorTail(std::string& text) {
    if (text.size() > kTerminatorTail) {
        text.erase(0, text.size() - kTerminatorTail);
    }
}

void GatherText(const uint8_t* bytes, size_t count, const AAPCallbacks& callbacks) {
    AAPLayerState& layer = Layer();
    std::string& text = layer.textReplyBuffer;
    const size_t searchFrom = text.size() > kTerminatorTail ? text.size() - kTerminatorTail : 0;
    text.append(reinterpret_cast<const char*>(bytes), count);
    const bool ended = FindReplyEnd(text, searchFrom) != std::string::npos;

    if (layer.droppingText) {
        layer.droppedTextBytes += count;
        if (ended) {
            DebugLog("AAPOnTransportEvent: dropped a text reply of %zu bytes\n",
                     layer.droppedTextBytes);
            layer.droppingText = false;
            text.clear();
            // The request it answers then fails rather than waits.
            if (!std::exchange(layer.dropSaid, false) && callbacks.textReplyCallback) {
                callbacks.textReplyCallback(nullptr, callbacks.callbackContext);
            }
        } else {
            KeepTerminatorTail(text);
        }
        return;
    }
    if (ended) {
        // A NUL would cut the reply short unseen.
        const bool whole = text.find('\0') == std::string::npos;
        if (!whole) {
            DebugLog("AAPOnTransportEvent: text reply holds a NUL, refused\n");
        }
        if (callbacks.textReplyCallback) {
            callbacks.textReplyCallback(whole ? text.c_str() : nullptr, callbacks.callbackContext);
        }
        text.clear();
        return;
    }
    if (text.size() > kAAPTextReplyLimit) {
        // A reply this long is not one we asked for; skip to its end rather than grow.
        DebugLog("AAPOnTransportEvent: text reply beyond %u bytes, dropping it\n",
                 kAAPTextReplyLimit);
        layer.droppingText = true;
        layer.droppedTextBytes = text.size();
        KeepTerminatorTail(text);
    }
}

// Text after what was gathered was lost: the reply it cut is handed on as lost at once, as its
// end may be lost too, and the rest of it is skipped up to an end.
void LoseText(const AAPCallbacks& callbacks) {
    AAPLayerState& layer = Layer();
    if (!layer.droppingText) {
        DebugLog("AAPOnTransportEvent: reply text lost, dropping the reply\n");
        layer.droppingText = true;
        layer.droppedTextBytes = layer.textReplyBuffer.size();
        KeepTerminatorTail(layer.textReplyBuffer);
    }
    if (!std::exchange(layer.dropSaid, true) && callbacks.textReplyCallback) {
        callbacks.textReplyCallback(nullptr, callbacks.callbackContext);
    }
}

void ReceiveText(MALTransportManager* transport, uint32_t size, const AAPCallbacks& callbacks) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) {
        return;
    }
    const int32_t read = transport->readText(Layer().adoptedDeviceId.load(), buffer.get(), size);
    if (read > 0) {
        GatherText(buffer.get(), std::min<uint32_t>(uint32_t(read), size), callbacks);
    }
}

void ReceiveMessages(MALTransportManager* transport, uint32_t size, const AAPCallbacks& callbacks) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) {
        return;
    }
    AAPLayerState& layer = Layer();
    uint32_t count = size;
    const int32_t result =
        transport->readMsg(layer.adoptedDeviceId.load(), 0, buffer.get(), &count);
    if (result != kXportOk) {
        DebugLog("xport readMsg error %d\n", result);
        return;
    }
    count = std::min(count, size);
    uint32_t offset = 0;
    while (offset < count) {
        if (!layer.pendingMessage) {
            layer.pendingMessage.reset(new (std::nothrow) AAPMessage);
            if (!layer.pendingMessage) {
                return;
            }
        }
        uint32_t consumed = 0;
        // An over-long message is logged by feed and parsing resumes with the next byte.
        const AAPParseResult outcome =
            layer.pendingMessage->feed(buffer.get() + offset, count - offset, &consumed);
        if (outcome == AAPParseResult::complete) {
            std::unique_ptr<AAPMessage> message = std::move(layer.pendingMessage);
            if (callbacks.messageCallback) {
                callbacks.messageCallback(message.get(), callbacks.callbackContext);
            }
        }
        if (consumed == 0) {
            break;
        }
        offset += consumed;
    }
}

void HandleEvent(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t reserved) {
    AAPLayerState& layer = Layer();
    const AAPCallbacks callbacks = CallbackSnapshot();
    switch (event) {
        case kXportAttach:
            if (layer.adoptedDeviceId.load() == kAAPNoDevice && deviceId != kAAPNoDevice) {
                // A message or reply cut off by the previous reader's removal will never be
                // finished; continuing it with the new reader's bytes would garble its answers.
                layer.pendingMessage.reset();
                layer.textReplyBuffer.clear();
                layer.droppingText = false;
                layer.dropSaid = false;
                layer.adoptedDeviceId.store(deviceId);
                if (callbacks.attachCallback) {
                    callbacks.attachCallback(callbacks.callbackContext);
                }
            }
            break;
        case kXportRemove:
            if (deviceId != kAAPNoDevice && deviceId == layer.adoptedDeviceId.load()) {
                layer.adoptedDeviceId.store(kAAPNoDevice);
                if (callbacks.removeCallback) {
                    callbacks.removeCallback(callbacks.callbackContext);
                }
            }
            break;
        case kXportTextData:
        case kXportMsgData: {
            MALTransportManager* transport = ActiveTransport();
            if (!transport || (count == 0 && reserved != kXportTextLost)) {
                break;
            }
            if (event == kXportTextData) {
                ReceiveText(transport, count, callbacks);
                if (reserved == kXportTextLost) {
                    LoseText(callbacks);
                }
            } else {
                ReceiveMessages(transport, count, callbacks);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace

void AAPInit(AAPAttachCallback attachCallback, AAPRemoveCallback removeCallback,
             AAPTextReplyCallback textReplyCallback, AAPMessageCallback messageCallback,
             AAPDebugPrintCallback debugPrintCallback, void* callbackContext) {
    AAPLayerState& layer = Layer();
    MALTransATP* created = nullptr;
    {
        std::lock_guard<std::mutex> lock(layer.callbackLock);
        layer.callbacks = AAPCallbacks{attachCallback,  removeCallback,     textReplyCallback,
                                       messageCallback, debugPrintCallback, callbackContext};
        if (layer.testTransport.load() || theTransport) {
            return;
        }
        // Process lifetime: nothing stops the transport before the process ends.
        created = new (std::nothrow) MALTransATP;
        if (!created) {
            DebugLog("AAPInit: no memory for the transport\n");
            return;
        }
        theTransport = created;
    }
    created->setEventCallback(AAPOnTransportEvent);
    if (!created->open(kReaderFilters)) {
        DebugLog("AAPInit: the transport did not open\n");
    }
}

void AAPSendMessage(const AAPMessage& message) {
    const uint32_t deviceId = Layer().adoptedDeviceId.load();
    MALTransportManager* transport = ActiveTransport();
    if (deviceId == kAAPNoDevice || !transport) {
        return;
    }
    const std::vector<uint8_t>& bytes = message.encoded();
    transport->writeMsg(deviceId, 0, bytes.data(), uint32_t(bytes.size()));
}

void AAPSendText(const char* text) {
    const uint32_t deviceId = Layer().adoptedDeviceId.load();
    MALTransportManager* transport = ActiveTransport();
    if (deviceId == kAAPNoDevice || !transport || !text) {
        return;
    }
    transport->writeText(deviceId, reinterpret_cast<const uint8_t*>(text),
                         uint32_t(std::strlen(text)));
}

int AAPOnTransportEvent(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t reserved) {
    // Exceptions (memory, or thrown by a callback) must not unwind into the transport.
    try {
        HandleEvent(deviceId, event, count, reserved);
    } catch (const std::exception& error) {
        Layer().pendingMessage.reset();
        DebugLog("AAPOnTransportEvent: event %u dropped: %s\n", event, error.what());
    } catch (...) {
        Layer().pendingMessage.reset();
        DebugLog("AAPOnTransportEvent: event %u dropped\n", event);
    }
    return 0;
}

uint32_t AAPAdoptedDeviceId() {
    return Layer().adoptedDeviceId.load();
}

void AAPSetTransportForTest(MALTransportManager* transport) {
    Layer().testTransport.store(transport);
    if (transport) {
        transport->setEventCallback(AAPOnTransportEvent);
    }
}

void AAPResetForTest() {
    AAPLayerState& layer = Layer();
    layer.adoptedDeviceId.store(kAAPNoDevice);
    layer.pendingMessage.reset();
    layer.textReplyBuffer.clear();
    layer.droppingText = false;
    layer.dropSaid = false;
    layer.droppedTextBytes = 0;
    std::lock_guard<std::mutex> lock(layer.callbackLock);
    layer.callbacks = AAPCallbacks{};
}
