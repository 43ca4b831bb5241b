// The reader's end of the AAP message stream: encoding its answers, packing them back to back
// into one outgoing byte stream, and parsing the host's requests out of the incoming one.
//
// Single-threaded objects: each belongs to one simulated reader's sim-link thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// Largest payload length accepted from the host.
constexpr uint32_t kAapMaxPayload = 0x200000;

// Returns the encoded message: length groups of 7 bits (each with bit 7 set, absent for an empty
// payload), the type (one byte below 0x7F, else 0x7F and 16 bits little-endian), the payload.
std::vector<uint8_t> AapEncode(uint16_t type, const uint8_t* payload, uint32_t length);

inline std::vector<uint8_t> AapEncode(uint16_t type, const std::vector<uint8_t>& payload) {
    return AapEncode(type, payload.data(), static_cast<uint32_t>(payload.size()));
}

struct AapMessage {
    uint16_t type = 0;
    std::vector<uint8_t> payload;
};

// Reassembles messages from the bytes as they arrive, in any split.
class AapParser {
public:
    enum class Result : uint8_t { needMore, complete, malformed };

    // Takes one byte. complete: message() holds the message until the next call. malformed: the
    // announced length exceeds kAapMaxPayload; the parser is back at a message start.
    Result feed(uint8_t byte);
    const AapMessage& message() const { return message_; }

private:
    enum class State : uint8_t { idle, length, typeLow, typeHigh, payload };
    Result finishHeader();

    State state_ = State::idle;
    uint32_t remaining_ = 0;
    uint32_t shift_ = 0;
    AapMessage message_;
};

// The outgoing stream: messages, or producers of messages, drained as bytes in order. A producer
// is asked for its next encoded message only when the bytes before it have been taken, so a
// long answer is encoded while it drains rather than up front.
class AapOutStream {
public:
    // Fills *encoded with the next message and returns true, or returns false when done.
    using Producer = std::function<bool(std::vector<uint8_t>* encoded)>;

    void push(std::vector<uint8_t> encoded);
    void push(Producer producer);

    // Copies up to max bytes into out and returns how many; 0 when the stream is empty.
    uint32_t take(uint8_t* out, uint32_t max);
    bool empty();
    void clear();

private:
    bool refill();

    std::deque<Producer> producers_;
    std::vector<uint8_t> current_;
    size_t position_ = 0;
};
