#include "transport/atp_packet.h"

#include <cstring>

namespace {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7u;

// entry[k][i]: the register i<<24 after eight MSB-first steps and then k more bytes of zeros,
// so a word's four bytes are looked up independently rather than one after another.
struct WordTables {
    uint32_t entry[4][256];
};

constexpr WordTables MakeWordTables() {
    WordTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t reg = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ kCrcPolynomial : reg << 1;
        }
        tables.entry[0][i] = reg;
    }
    for (int k = 1; k < 4; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t previous = tables.entry[k - 1][i];
            tables.entry[k][i] = (previous << 8) ^ tables.entry[0][previous >> 24];
        }
    }
    return tables;
}

constexpr WordTables kTables = MakeWordTables();
static_assert(kTables.entry[0][1] == kCrcPolynomial, "byte table built wrongly");

inline uint32_t LoadLittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreLittleEndian32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t CrcAddWord(uint32_t reg, uint32_t word) {
    reg ^= word;
    return kTables.entry[3][reg >> 24] ^ kTables.entry[2][(reg >> 16) & 0xFF] ^
           kTables.entry[1][(reg >> 8) & 0xFF] ^ kTables.entry[0][reg & 0xFF];
}

uint32_t CrcAddWords(uint32_t reg, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, bytes += 4) {
        reg = CrcAddWord(reg, LoadLittleEndian32(bytes));
    }
    return reg;
}

}  // namespace

uint32_t ATPCrc32(const void* words, uint32_t count) {
    return CrcAddWords(0xFFFFFFFFu, static_cast<const uint8_t*>(words), count);
}

uint32_t ATPPayloadCrc(const uint8_t* payload, uint32_t n) {
    const uint32_t whole = n / 4;
    uint32_t reg = CrcAddWords(0xFFFFFFFFu, payload, whole);
    const uint32_t rest = n % 4;
    if (rest != 0) {
        uint8_t tail[4] = {0, 0, 0, 0};
        std::memcpy(tail, payload + whole * 4, rest);
        reg = CrcAddWord(reg, LoadLittleEndian32(tail));
    }
    return reg;
}

bool ATPBuildCommandPacket(uint8_t* packet, uint8_t code, const uint8_t* payload, uint32_t n) {
    std::memset(packet, 0, kATPPacketSize);
    if (n > kATPMaxCommandPayload) {
        return false;
    }
    packet[0] = code;
    packet[1] = static_cast<uint8_t>(n);
    if (n != 0) {
        std::memcpy(packet + 2, payload, n);
    }
    return true;
}

bool ATPBuildDataPacket(uint8_t* packet, uint8_t code, uint8_t ack, uint8_t seq,
                        const uint8_t* payload, uint32_t n) {
    std::memset(packet, 0, kATPPacketSize);
    if (n > kATPMaxDataPayload) {
        return false;
    }
    packet[0] = code;
    packet[1] = static_cast<uint8_t>(n + kATPDataLengthBias);
    packet[2] = ack;
    packet[3] = seq;
    if (n != 0) {
        std::memcpy(packet + kATPDataHeaderSize, payload, n);
    }
    // The packet's zeroed tail is the padding, so the checksum can run over it in place.
    StoreLittleEndian32(packet + 4, ATPCrc32(packet + kATPDataHeaderSize, (n + 3) / 4));
    return true;
}

void ATPBuildStatusPacket(uint8_t* packet, uint8_t code, uint8_t ack, uint8_t nextSeq,
                          uint8_t status) {
    std::memset(packet, 0, kATPPacketSize);
    packet[0] = code;
    packet[1] = 4;
    packet[2] = ack;
    packet[3] = nextSeq;
    packet[5] = status;
}

void ATPBuildPing(uint8_t* packet) {
    std::memset(packet, 0, kATPPacketSize);
    packet[0] = kATPPing;
}

ATPParseResult ATPParseCommandPacket(const uint8_t* packet, ATPCommandPacketView* out) {
    const uint32_t length = packet[1];
    if (length > kATPMaxCommandPayload) {
        return ATPParseResult::malformed;
    }
    out->code = packet[0];
    out->payload = packet + 2;
    out->length = length;
    return ATPParseResult::ok;
}

ATPParseResult ATPParseDataPacket(const uint8_t* packet, ATPDataPacketView* out) {
    const uint32_t lengthByte = packet[1];
    if (lengthByte < kATPDataLengthBias || lengthByte > kATPMaxCommandPayload) {
        return ATPParseResult::malformed;
    }
    out->code = packet[0];
    out->ack = packet[2];
    out->seq = packet[3];
    out->crc = LoadLittleEndian32(packet + 4);
    out->payload = packet + kATPDataHeaderSize;
    out->length = lengthByte - kATPDataLengthBias;
    // Padding bytes on the wire carry no meaning; the checksum assumes zeros there.
    if (ATPPayloadCrc(out->payload, out->length) != out->crc) {
        return ATPParseResult::badChecksum;
    }
    return ATPParseResult::ok;
}

ATPStatusPacketView ATPParseStatusPacket(const uint8_t* packet) {
    ATPStatusPacketView view;
    view.ack = packet[2];
    view.status = packet[5];
    return view;
}
