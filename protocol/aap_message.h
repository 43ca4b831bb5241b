// AAP messages: the reader's typed, length-prefixed application messages. A message is either
// composed for sending (its encoding is built at once) or assembled from received bytes by parse.
//
// Plain values with no shared state: each message belongs to the one thread that uses it.
// Nothing here throws except std::bad_alloc from the payload's growth.
#pragma once

#include <cstdint>
#include <vector>

// Largest payload length the receiver accepts; sending applies no limit.
constexpr uint32_t kAAPMaxMsgLength = 0x200000;

// Outcome of feeding bytes to AAPMessage::feed.
enum class AAPParseResult : uint8_t {
    needMore,   // every byte taken; the message continues with the next call
    complete,   // a message ended; consumed tells where
    malformed,  // its length exceeded kAAPMaxMsgLength; the message is dropped, back in Idle
};

class AAPMessage {
public:
    // Receive parse states.
    enum State : uint32_t { kIdle = 0, kLength = 1, kTypeLow = 2, kTypeHigh = 3, kPayload = 4 };

    // An empty message for receiving: Idle, type 0, no payload.
    AAPMessage() = default;
    // Composes a message: copies length bytes of data (null allowed when length is 0) and
    // builds the encoding.
    AAPMessage(uint16_t type, const uint8_t* data, uint32_t length);

    // Feeds up to count bytes; returns true when a message completed. *consumed (may be null)
    // receives the bytes taken, fewer than count when the message ended or was dropped early.
    bool parse(const uint8_t* bytes, uint32_t count, uint32_t* consumed);
    // As parse, but tells a dropped over-long message apart from one that needs more bytes.
    // Logs "kAAPMaxMsgLength exceeded (%d %d)\n" when it drops one.
    AAPParseResult feed(const uint8_t* bytes, uint32_t count, uint32_t* consumed);

    // Returns the message type.
    uint16_t type() const { return type_; }
    // Returns the payload; valid while the message lives and is not fed.
    const std::vector<uint8_t>& payload() const { return payload_; }
    // Returns the wire bytes of a composed message; empty for a received one.
    const std::vector<uint8_t>& encoded() const { return encoded_; }
    // Returns the receive parse state.
    State state() const { return state_; }

private:
    // Ends the header: an empty payload completes the message at once.
    bool startPayload();

    State state_ = kIdle;
    uint32_t remaining_ = 0;
    uint32_t shift_ = 0;
    uint16_t type_ = 0;
    std::vector<uint8_t> payload_;
    std::vector<uint8_t> encoded_;
};
