#include "protocol/aap_message.h"

#include <algorithm>
#include <climits>

#include "platform/debug_log.h"

namespace {

constexpr uint8_t kExtendedType = 0x7F;
constexpr uint8_t kLengthFlag = 0x80;

}  // namespace

AAPMessage::AAPMessage(uint16_t type, const uint8_t* data, uint32_t length) : type_(type) {
    if (length != 0) {
        payload_.assign(data, data + length);
    }
    if (length == 0 && type < kExtendedType) {
        encoded_.push_back(static_cast<uint8_t>(type));
        return;
    }
    encoded_.reserve(size_t(length) + 8);
    if (length != 0) {
        uint32_t rest = length;
        for (;;) {
            encoded_.push_back(static_cast<uint8_t>((rest & 0x7F) | kLengthFlag));
            const bool last = rest < 0x80;
            rest >>= 7;
            if (last) {
                break;
            }
        }
    }
    if (type < kExtendedType) {
        encoded_.push_back(static_cast<uint8_t>(type));
    } else {
        encoded_.push_back(kExtendedType);
        encoded_.push_back(static_cast<uint8_t>(type & 0xFF));
        encoded_.push_back(static_cast<uint8_t>(type >> 8));
    }
    encoded_.insert(encoded_.end(), payload_.begin(), payload_.end());
}

bool AAPMessage::parse(const uint8_t* bytes, uint32_t count, uint32_t* consumed) {
    return feed(bytes, count, consumed) == AAPParseResult::complete;
}

bool AAPMessage::startPayload() {
    state_ = kPayload;
    if (remaining_ == 0) {
        state_ = kIdle;
        return true;
    }
    return false;
}

AAPParseResult AAPMessage::feed(const uint8_t* bytes, uint32_t count, uint32_t* consumed) {
    AAPParseResult result = AAPParseResult::needMore;
    uint32_t taken = 0;
    while (taken < count && result == AAPParseResult::needMore) {
        const uint8_t b = bytes[taken];
        switch (state_) {
            case kIdle:
                payload_.clear();
                if (b < kExtendedType) {
                    type_ = b;
                    result = AAPParseResult::complete;
                } else {
                    remaining_ = b & 0x7F;
                    shift_ = 7;
                    type_ = 0;
                    state_ = kLength;
                }
                break;
            case kLength:
                if (b > kExtendedType) {
                    // Widened so that groups past bit 31 count instead of vanishing in the shift.
                    const uint64_t group = b & 0x7F;
                    const uint64_t value =
                        group == 0
                            ? remaining_
                            : (shift_ >= 32 ? uint64_t(1) << 40 : remaining_ | group << shift_);
                    if (shift_ < 32) {
                        shift_ += 7;
                    }
                    if (value > kAAPMaxMsgLength) {
                        DebugLog("kAAPMaxMsgLength exceeded (%d %d)\n",
                                 int(std::min<uint64_t>(value, INT_MAX)), int(kAAPMaxMsgLength));
                        state_ = kIdle;
                        remaining_ = 0;
                        result = AAPParseResult::malformed;
                    } else {
                        remaining_ = uint32_t(value);
                    }
                } else if (b == kExtendedType) {
                    state_ = kTypeLow;
                } else {
                    type_ = b;
                    if (startPayload()) {
                        result = AAPParseResult::complete;
                    }
                }
                break;
            case kTypeLow:
                type_ = b;
                state_ = kTypeHigh;
                break;
            case kTypeHigh:
                type_ = static_cast<uint16_t>(type_ | b << 8);
                if (startPayload()) {
                    result = AAPParseResult::complete;
                }
                break;
            case kPayload: {
                const uint32_t run = std::min(remaining_, count - taken);
                payload_.insert(payload_.end(), bytes + taken, bytes + taken + run);
                remaining_ -= run;
                taken += run - 1;  // the loop's step takes the last one
                if (remaining_ == 0) {
                    state_ = kIdle;
                    result = AAPParseResult::complete;
                }
                break;
            }
        }
        ++taken;
    }
    if (consumed) {
        *consumed = taken;
    }
    return result;
}
