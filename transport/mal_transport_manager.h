// The interface between the AAP layer and a transport to readers. One implementation exists
// (MALTransATP); the AAP layer talks to it only through these operations and the event callback.
#pragma once

#include <cstdint>

struct HidDeviceFilter;
struct hidInterface;

// What the transport reports through TransportEventCallback.
constexpr uint32_t kXportAttach = 1;    // a reader answered its link start with its identity
constexpr uint32_t kXportRemove = 2;    // a reader is gone
constexpr uint32_t kXportTextData = 3;  // count = bytes waiting in the reader's text ring
constexpr uint32_t kXportMsgData = 4;   // count = bytes waiting in the reader's message ring
constexpr uint32_t kXportTextLost = 1;  // reserved of kXportTextData: text after these was lost

// Results of writeMsg and readMsg; the interface fixes their values.
enum XportResult : int32_t {
    kXportOk = 0,
    kXportNoReader = -3,  // no reader record under that id
    kXportNoSize = -4,    // readMsg's sizeInOut is null
};

// Called on the transport's event thread only, one call at a time, in the order of posting.
// count is 0 for attach and removal; reserved is 0 but for kXportTextData after text was lost,
// when it is kXportTextLost: the count bytes came before the loss. The result is ignored.
using TransportEventCallback = int (*)(uint32_t deviceId, uint32_t event, uint32_t count,
                                       uint32_t reserved);

// The slot order of these operations is fixed; there is deliberately no virtual destructor
// (instances are never deleted through this type).
class MALTransportManager {
public:
    // Binds HID and starts the event thread; returns the HID interface, null when HID failed.
    virtual hidInterface* open(const HidDeviceFilter* filters) = 0;
    // Stops everything open started; blocks until the event thread has ended.
    virtual void close() = 0;
    // Replaces the event callback; any thread.
    virtual void setEventCallback(TransportEventCallback callback) = 0;
    // Sends text in 62-byte chunks; returns the bytes sent. Blocks while the reader grants no
    // credit (minutes at most).
    virtual int32_t writeText(uint32_t deviceId, const uint8_t* text, uint32_t length) = 0;
    // Sends a message as numbered data packets; returns kXportOk, or kXportNoReader. Blocks
    // while the reader grants no credit.
    virtual int32_t writeMsg(uint32_t deviceId, uint32_t reserved, const uint8_t* bytes,
                             uint32_t length) = 0;
    // Moves up to size bytes of received text into buffer; returns the count (0 with no reader).
    virtual int32_t readText(uint32_t deviceId, uint8_t* buffer, uint32_t size) = 0;
    // Moves up to *sizeInOut message bytes into buffer and stores the count there; returns
    // kXportOk, kXportNoSize for a null sizeInOut, or kXportNoReader (size 0).
    virtual int32_t readMsg(uint32_t deviceId, uint32_t reserved, uint8_t* buffer,
                            uint32_t* sizeInOut) = 0;
    // Copies "1.0" cut to size - 1 characters and terminates it; returns 1.
    virtual int32_t getVersion(char* buffer, uint32_t size) = 0;
    // Restarts the reader's link (counters, queue, timers, ping, reset status).
    virtual void restartLink(uint32_t deviceId) = 0;
    // Reports kXportAttach, then logs; event thread.
    virtual void OnDeviceAttach(uint32_t deviceId) = 0;
    // Reports kXportRemove, then logs; event thread.
    virtual void OnDeviceRemove(uint32_t deviceId) = 0;
    // Logs the reader's debug text.
    virtual void OnDebugPrint(const char* text) = 0;
    // Dispatches one received report; deviceId -1 (no record) drops it. Reader's read thread.
    virtual void OnReceiveReport(int32_t deviceId, const uint8_t* report, int32_t length) = 0;
    // Handles a data or status packet; reader's read thread.
    virtual void OnReceiveATP(uint32_t deviceId, const uint8_t* packet) = 0;

protected:
    ~MALTransportManager() = default;
};
