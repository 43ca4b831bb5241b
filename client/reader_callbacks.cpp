#include "client/reader_callbacks.h"

#include "client/device_client.h"

void onReaderAttached(void*) {
    DeviceClient::instance()->readerAttached();
}

void onReaderRemoved(void*) {
    DeviceClient::instance()->readerRemoved();
}

void onReaderTextReply(const char* text, void*) {
    DeviceClient::instance()->handleTextReply(text);
}

void onReaderMessage(const AAPMessage* message, void*) {
    if (message) {
        DeviceClient::instance()->handleMessage(*message);
    }
}

void onReaderDebugPrint(const char*, void*) {}
