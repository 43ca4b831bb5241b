#include "tools/reader-sim/aap_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

std::vector<uint8_t> AapEncode(uint16_t type, const uint8_t* payload, uint32_t length) {
    std::vector<uint8_t> out;
    out.reserve(length + 8);
    for (uint32_t rest = length; rest != 0; rest >>= 7) {
        out.push_back(static_cast<uint8_t>(0x80 | (rest & 0x7F)));
    }
    if (type < 0x7F) {
        out.push_back(static_cast<uint8_t>(type));
    } else {
        out.push_back(0x7F);
        out.push_back(static_cast<uint8_t>(type));
        out.push_back(static_cast<uint8_t>(type >> 8));
    }
    out.insert(out.end(), payload, payload + length);
    return out;
}

AapParser::Result AapParser::finishHeader() {
    if (remaining_ == 0) {
        state_ = State::idle;
        return Result::complete;
    }
    state_ = State::payload;
    message_.payload.reserve(remaining_);
    return Result::needMore;
}

AapParser::Result AapParser::feed(uint8_t b) {
    switch (state_) {
        case State::idle:
            message_.payload.clear();
            message_.type = 0;
            remaining_ = 0;
            if (b < 0x7F) {
                message_.type = b;
                return Result::complete;
            }
            if (b == 0x7F) {
                // An extended type with no payload has no length bytes in front of it.
                state_ = State::typeLow;
                return Result::needMore;
            }
            remaining_ = b & 0x7Fu;
            shift_ = 7;
            state_ = State::length;
            return Result::needMore;
        case State::length:
            if (b > 0x7F) {
                const uint64_t group = b & 0x7Fu;
                // Zero groups add nothing however far out they are; any other one beyond 32 bits
                // is far past the limit.
                if (group != 0) {
                    if (shift_ >= 32 || (remaining_ | group << shift_) > kAapMaxPayload) {
                        state_ = State::idle;
                        return Result::malformed;
                    }
                    remaining_ |= static_cast<uint32_t>(group << shift_);
                }
                shift_ = shift_ >= 32 ? shift_ : shift_ + 7;
                return Result::needMore;
            }
            if (b == 0x7F) {
                state_ = State::typeLow;
                return Result::needMore;
            }
            message_.type = b;
            return finishHeader();
        case State::typeLow:
            message_.type = b;
            state_ = State::typeHigh;
            return Result::needMore;
        case State::typeHigh:
            message_.type = static_cast<uint16_t>(message_.type | b << 8);
            return finishHeader();
        case State::payload:
            message_.payload.push_back(b);
            if (--remaining_ == 0) {
                state_ = State::idle;
                return Result::complete;
            }
            return Result::needMore;
    }
    return Result::needMore;
}

void AapOutStream::push(std::vector<uint8_t> encoded) {
    auto once = std::make_shared<std::vector<uint8_t>>(std::move(encoded));
    push([once](std::vector<uint8_t>* out) {
        if (once->empty()) {
            return false;
        }
        out->swap(*once);
        once->clear();
        return true;
    });
}

void AapOutStream::push(Producer producer) {
    producers_.push_back(std::move(producer));
}

bool AapOutStream::refill() {
    while (position_ >= current_.size()) {
        if (producers_.empty()) {
            return false;
        }
        current_.clear();
        position_ = 0;
        if (!producers_.front()(&current_)) {
            producers_.pop_front();
        }
    }
    return true;
}

uint32_t AapOutStream::take(uint8_t* out, uint32_t max) {
    uint32_t n = 0;
    while (n < max && refill()) {
        const size_t chunk = std::min<size_t>(max - n, current_.size() - position_);
        std::memcpy(out + n, current_.data() + position_, chunk);
        position_ += chunk;
        n += static_cast<uint32_t>(chunk);
    }
    return n;
}

bool AapOutStream::empty() {
    return !refill();
}

void AapOutStream::clear() {
    producers_.clear();
    current_.clear();
    position_ = 0;
}
