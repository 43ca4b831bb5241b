// The AAP layer: starts the transport, adopts the first reader that attaches, sends messages
// and text commands to it, and turns the transport's events into whole messages and text
// replies for the application's callbacks.
//
// Threads: AAPOnTransportEvent, and so every callback, runs on the transport's event thread,
// one event at a time; the layer's receive state belongs to that thread. AAPSendMessage and
// AAPSendText may be called from any thread. Nothing here throws to its caller.
#pragma once

#include <cstdint>

#include "protocol/aap_message.h"

class MALTransportManager;

// adoptedDeviceId when no reader is adopted.
constexpr uint32_t kAAPNoDevice = 0xFFFFFFFF;
// Text gathered without a terminator beyond this many bytes is dropped.
constexpr uint32_t kAAPTextReplyLimit = 64 * 1024;

// Callbacks run on the event thread. Whatever they are handed is lent for the call only.
using AAPAttachCallback = void (*)(void* context);
using AAPRemoveCallback = void (*)(void* context);
// text: the gathered reply up to and including its status line, NUL-terminated; null for a
// reply that could not be received whole (text lost, beyond kAAPTextReplyLimit, or holding a
// NUL), which is never handed on cut.
using AAPTextReplyCallback = void (*)(const char* text, void* context);
using AAPMessageCallback = void (*)(const AAPMessage* message, void* context);
// Stored and never called.
using AAPDebugPrintCallback = void (*)(const char* text, void* context);

struct AAPCallbacks {
    AAPAttachCallback attachCallback = nullptr;
    AAPRemoveCallback removeCallback = nullptr;
    AAPTextReplyCallback textReplyCallback = nullptr;
    AAPMessageCallback messageCallback = nullptr;
    AAPDebugPrintCallback debugPrintCallback = nullptr;
    void* callbackContext = nullptr;
};

// Stores the callbacks (null slots are skipped), then, the first time only, creates
// theTransport, installs AAPOnTransportEvent and opens it with kReaderFilters. A later call, or
// one after AAPSetTransportForTest, only replaces the callbacks. Any thread; returns at once.
void AAPInit(AAPAttachCallback attachCallback, AAPRemoveCallback removeCallback,
             AAPTextReplyCallback textReplyCallback, AAPMessageCallback messageCallback,
             AAPDebugPrintCallback debugPrintCallback, void* callbackContext);

// Hands the message's encoding to the transport for the adopted reader; does nothing when none
// is adopted. Any thread; blocks while the reader grants no credit (minutes at most).
void AAPSendMessage(const AAPMessage& message);

// Sends text (NUL-terminated, the NUL not sent) on the adopted reader's text channel; does
// nothing when none is adopted or text is null. Any thread; may block as AAPSendMessage.
void AAPSendText(const char* text);

// The transport's event callback: adoption, removal, text replies and messages. Always returns
// 0. Event thread only.
int AAPOnTransportEvent(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t reserved);

// Returns the adopted reader's device id, kAAPNoDevice when none. Any thread.
uint32_t AAPAdoptedDeviceId();

// Makes the layer use transport (not owned; null restores theTransport) and installs
// AAPOnTransportEvent on it; AAPInit then creates nothing. Tests only, before events flow.
void AAPSetTransportForTest(MALTransportManager* transport);

// Forgets the adopted reader, the partial message and text, and the callbacks. Tests only,
// while no event is being handled.
void AAPResetForTest();
