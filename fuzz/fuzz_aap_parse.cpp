// AAPMessage::parse over arbitrary bytes in arbitrary chunks. Input: one byte that seeds the
// chunk sizes, then the byte stream.
//
// Invariants: a call never takes more than it is given and always takes something; it stops
// early only at a message's end or a dropped length; the messages found do not depend on the
// chunking; each is within the length limit, and its wire form, built here from the format's
// rules, parses back to it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protocol/aap_message.h"

namespace {

// What one pass found: per message its type, payload size and a hash of the payload, and -1 for
// a dropped one. Kept between inputs so that a run allocates nothing of its own.
using Outcome = std::vector<uint64_t>;

uint64_t Summary(const AAPMessage& m) {
    uint64_t hash = 1469598103934665603u;
    for (const uint8_t b : m.payload()) {
        hash = (hash ^ b) * 1099511628211u;
    }
    return hash ^ (uint64_t(m.type()) << 48) ^ m.payload().size();
}

// The message's wire form by the format's rules, then parsed back. A static buffer and message,
// so checking allocates nothing once they have grown.
void CheckRoundTrip(const AAPMessage& received) {
    const std::vector<uint8_t>& payload = received.payload();
    FUZZ_CHECK(payload.size() <= kAAPMaxMsgLength);
    const uint16_t type = received.type();
    if (payload.empty() && type >= 0x7F) {
        return;  // the one form the receiver reads differently; never sent
    }
    static std::vector<uint8_t> wire;
    wire.clear();
    for (size_t rest = payload.size(); rest != 0; rest >>= 7) {
        wire.push_back(uint8_t(0x80 | (rest & 0x7F)));  // every length byte has bit 7 set
    }
    if (type < 0x7F) {
        wire.push_back(uint8_t(type));
    } else {
        wire.insert(wire.end(), {0x7F, uint8_t(type), uint8_t(type >> 8)});
    }
    wire.insert(wire.end(), payload.begin(), payload.end());
    static AAPMessage again;  // always left Idle, so reusable
    uint32_t consumed = 0;
    FUZZ_CHECK(again.parse(wire.data(), uint32_t(wire.size()), &consumed));
    FUZZ_CHECK(consumed == wire.size() && again.type() == type && again.payload() == payload);
}

// Chunk sizes come from a small generator so one input byte covers many splits.
void ParseInChunks(const uint8_t* data, uint32_t size, uint32_t seed, bool checkMessages,
                   Outcome* outcome) {
    outcome->clear();
    AAPMessage message;
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t at = 0; at < size;) {
        uint32_t chunk = size - at;
        if (seed != 0) {
            state = state * 1103515245u + 12345u;
            chunk = std::min(chunk, 1 + (state >> 16) % (seed % 64 + 1));
        }
        uint32_t consumed = 0xFFFFFFFF;
        const AAPParseResult result = message.feed(data + at, chunk, &consumed);
        FUZZ_CHECK(consumed >= 1 && consumed <= chunk);
        // Only a finished or dropped message stops early, and leaves the parser idle.
        const bool idle = message.state() == AAPMessage::kIdle;
        FUZZ_CHECK(result == AAPParseResult::needMore ? consumed == chunk && !idle : idle);
        if (result == AAPParseResult::complete) {
            outcome->push_back(Summary(message));
            if (checkMessages) {
                CheckRoundTrip(message);
            }
        } else if (result == AAPParseResult::malformed) {
            outcome->push_back(~uint64_t(0));
        }
        at += consumed;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 24)) {
        return 0;
    }
    const uint32_t length = uint32_t(size - 1);
    // A first byte of 64 (or 128, 192) splits into single bytes.
    static Outcome chunked, whole;
    ParseInChunks(data + 1, length, data[0], true, &chunked);
    ParseInChunks(data + 1, length, 0, false, &whole);
    FUZZ_CHECK(chunked == whole);
    return 0;
}
