// ATP packets: the fixed 64-byte frames exchanged with the reader, one per HID report (the report
// id in front of them is the HID layer's business). These helpers only build and take apart
// single packets; sequencing, windows and retransmission live above them.
//
// Plain functions on caller-owned buffers: no allocation, no exceptions, no shared state, so they
// are safe from any thread.
#pragma once

#include <cstdint>

constexpr uint32_t kATPPacketSize = 64;
constexpr uint32_t kATPMaxCommandPayload = kATPPacketSize - 2;
constexpr uint32_t kATPDataHeaderSize = 8;
constexpr uint32_t kATPMaxDataPayload = kATPPacketSize - kATPDataHeaderSize;
// A data packet's length byte counts the ack, seq and checksum bytes along with the payload.
constexpr uint32_t kATPDataLengthBias = 6;

// Command codes, byte 0 of every packet.
constexpr uint8_t kATPIdentityAck = 1;
constexpr uint8_t kATPClose = 2;
constexpr uint8_t kATPDebugText = 3;
constexpr uint8_t kATPPing = 4;
constexpr uint8_t kATPStartup1 = 5;
constexpr uint8_t kATPReaderText = 6;
constexpr uint8_t kATPDataOut = 10;
constexpr uint8_t kATPDataIn = 11;
constexpr uint8_t kATPStatusIn = 12;
constexpr uint8_t kATPStatusOut = 13;
constexpr uint8_t kATPStartup2 = 21;
constexpr uint8_t kATPTextIn = 32;
constexpr uint8_t kATPTextOut = 33;
constexpr uint8_t kATPCredit = 34;
constexpr uint8_t kATPTransportByte = 48;
constexpr uint8_t kATPCloseByte = 49;
constexpr uint8_t kATPWindowSize = 52;
constexpr uint8_t kATPIdentity = 53;

// Status codes, byte 5 of a status packet.
constexpr uint8_t kATPStatusAck = 0;
constexpr uint8_t kATPStatusResent = 1;
constexpr uint8_t kATPStatusReset = 2;

enum class ATPParseResult : uint8_t {
    ok,
    malformed,    // the length byte is out of range for the packet kind
    badChecksum,  // data packet whose payload does not match its checksum
};

// Views point into the parsed packet and are valid only as long as it is.
struct ATPCommandPacketView {
    uint8_t code;
    const uint8_t* payload;
    uint32_t length;
};

struct ATPDataPacketView {
    uint8_t code;
    uint8_t ack;  // next sequence number the sender expects from us
    uint8_t seq;
    uint32_t crc;
    const uint8_t* payload;
    uint32_t length;
};

struct ATPStatusPacketView {
    uint8_t ack;  // next sequence number the sender expects from us
    uint8_t status;
};

// Returns the checksum of count 32-bit little-endian words (any alignment); 0xFFFFFFFF for none.
uint32_t ATPCrc32(const void* words, uint32_t count);

// Returns the checksum of n payload bytes zero-padded to whole words; never reads past n.
uint32_t ATPPayloadCrc(const uint8_t* payload, uint32_t n);

// Returns the sequence number after s, wrapping 255 to 0.
inline uint8_t ATPNextSeq(uint8_t s) {
    return static_cast<uint8_t>(s + 1);
}

// Zeroes packet, then writes a command packet; false (packet left zeroed) when n > 62.
bool ATPBuildCommandPacket(uint8_t* packet, uint8_t code, const uint8_t* payload, uint32_t n);

// Zeroes packet, then writes a checksummed data packet; false (packet left zeroed) when n > 56.
bool ATPBuildDataPacket(uint8_t* packet, uint8_t code, uint8_t ack, uint8_t seq,
                        const uint8_t* payload, uint32_t n);

// Zeroes packet, then writes a status packet. Cannot fail.
void ATPBuildStatusPacket(uint8_t* packet, uint8_t code, uint8_t ack, uint8_t nextSeq,
                          uint8_t status);

// Zeroes packet, then writes a ping. Cannot fail.
void ATPBuildPing(uint8_t* packet);

// Fills out and returns ok, or malformed when the length byte exceeds 62 (out then untouched).
ATPParseResult ATPParseCommandPacket(const uint8_t* packet, ATPCommandPacketView* out);

// Fills out and returns ok; malformed when the length byte is outside 6..62 (out untouched);
// badChecksum when the payload does not match (out filled, for logging).
ATPParseResult ATPParseDataPacket(const uint8_t* packet, ATPDataPacketView* out);

// Returns the ack number and status code of a status packet; reads bytes 2 and 5 only.
ATPStatusPacketView ATPParseStatusPacket(const uint8_t* packet);
