// The five callbacks that the programs hand to AAPInit, in that order. Each ignores its context and
// passes its event to DeviceClient::instance(). All run on the transport's event thread.
#pragma once

class AAPMessage;

// Emits the device client's onConnected.
void onReaderAttached(void* context);
// Emits the device client's onDisconnected and ends the requests waiting for the reader.
void onReaderRemoved(void* context);
// Hands the value line of a complete text reply to the device client.
void onReaderTextReply(const char* text, void* context);
// Dispatches one complete AAP message to the device client by its type.
void onReaderMessage(const AAPMessage* message, void* context);
// Does nothing.
void onReaderDebugPrint(const char* text, void* context);
