#include "tools/reader-sim/sim_link.h"

#include <algorithm>
#include <cstring>

SimLink::SimLink(const LinkOptions& options, LinkClient* client, LinkCounters* counters)
    : options_(options), client_(client), counters_(counters), faults_(options.faultSeed) {
    options_.window = std::min<uint32_t>(std::max<uint32_t>(options_.window, 1), 127);
}

void SimLink::resetCounters() {
    txSeq_ = 0;
    rxExpected_ = 0;
    unacked_.clear();
    resendDue_ = kNever;
    resending_ = false;
    haveStatusAck_ = false;
    fastResendSpent_ = false;
    // Data packets already queued carry numbers of the old count.
    outbox_.erase(
        std::remove_if(outbox_.begin(), outbox_.end(), [](const Outgoing& o) { return o.data; }),
        outbox_.end());
}

void SimLink::startLink(uint64_t nowMs) {
    resetCounters();
    started_ = true;
    ++counters_->linkStarts;
    client_->onLinkStart();
    queueCommand(kATPWindowSize, &options_.hostWindow, 1);
    queueIdentity();
    identityPending_ = true;
    identityDue_ = nowMs + options_.identityRepeatMs;
}

void SimLink::queueCommand(uint8_t code, const uint8_t* payload, uint32_t n) {
    Outgoing o{};
    ATPBuildCommandPacket(o.packet.bytes, code, payload, n);
    outbox_.push_back(o);
}

void SimLink::queueAckAndCredit() {
    Outgoing o{};
    ATPBuildStatusPacket(o.packet.bytes, kATPStatusIn, rxExpected_, txSeq_, kATPStatusAck);
    outbox_.push_back(o);
    const uint8_t one = 1;
    queueCommand(kATPCredit, &one, 1);
}

void SimLink::queueIdentity() {
    std::vector<uint8_t> payload(options_.identity.begin(), options_.identity.end());
    payload.resize(std::min<size_t>(payload.size(), kATPMaxCommandPayload - 1));
    payload.push_back(options_.identityClass);
    queueCommand(kATPIdentity, payload.data(), static_cast<uint32_t>(payload.size()));
    ++counters_->identitiesSent;
}

void SimLink::queueText(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t at = 0; at < text.size(); at += kATPMaxCommandPayload) {
        const size_t n = std::min<size_t>(kATPMaxCommandPayload, text.size() - at);
        queueCommand(kATPTextIn, bytes + at, static_cast<uint32_t>(n));
    }
}

void SimLink::queueData(const LinkPacket& stored) {
    Outgoing o{};
    o.packet = stored;
    o.data = true;
    // A packet sent again tells the host our current expectation, not the one of its first send.
    o.packet.bytes[2] = rxExpected_;
    // Always draw all three so one fault's outcome does not shift the others' sequence.
    const bool drop = faults_.chance(options_.dropP);
    const bool corrupt = faults_.chance(options_.corruptP);
    const bool duplicate = faults_.chance(options_.duplicateP);
    if (drop) {
        ++counters_->dataDropped;
        return;
    }
    if (corrupt) {
        // The stored copy stays intact, so the resend repairs it.
        const bool hasPayload = o.packet.bytes[1] > kATPDataLengthBias;
        o.packet.bytes[hasPayload ? kATPDataHeaderSize : 4] ^= 0x01;
        ++counters_->dataCorrupted;
    }
    outbox_.push_back(o);
    if (duplicate) {
        outbox_.push_back(o);
        ++counters_->dataDuplicated;
    }
}

void SimLink::processAck(uint8_t ack, uint64_t nowMs) {
    const size_t inFlight = unacked_.size();
    const uint8_t base = static_cast<uint8_t>(txSeq_ - inFlight);
    const size_t newlyAcked = static_cast<uint8_t>(ack - base);
    // Zero acknowledges nothing new; more than in flight is a stale number from an old packet.
    if (newlyAcked == 0 || newlyAcked > inFlight) {
        return;
    }
    if (resending_ && static_cast<uint8_t>(resendNext_ - base) < newlyAcked) {
        resendNext_ = ack;
    }
    fastResendSpent_ = false;
    unacked_.erase(unacked_.begin(), unacked_.begin() + static_cast<long>(newlyAcked));
    resendDue_ = unacked_.empty() ? kNever : nowMs + options_.resendMs;
    if (unacked_.empty()) {
        resending_ = false;
    }
}

void SimLink::onStatusAck(uint8_t ack, uint64_t nowMs) {
    const bool repeated = haveStatusAck_ && ack == lastStatusAck_;
    haveStatusAck_ = true;
    lastStatusAck_ = ack;
    processAck(ack, nowMs);
    // The host acknowledges only when its expectation moved or a packet came out of sequence, so
    // hearing the oldest in-flight number again means it lost that packet and dropped the rest.
    const uint8_t base = static_cast<uint8_t>(txSeq_ - unacked_.size());
    if (!repeated || unacked_.empty() || ack != base || resending_ || fastResendSpent_) {
        return;
    }
    fastResendSpent_ = true;
    ++counters_->fastResends;
    beginResend();
}

void SimLink::beginResend() {
    resending_ = true;
    resendNext_ = static_cast<uint8_t>(txSeq_ - unacked_.size());
    resendEnd_ = txSeq_;
    resendDue_ = kNever;
}

void SimLink::receiveData(const uint8_t* packet, uint64_t nowMs) {
    ATPDataPacketView view;
    if (ATPParseDataPacket(packet, &view) == ATPParseResult::ok && view.seq == rxExpected_) {
        rxExpected_ = ATPNextSeq(rxExpected_);
        ++counters_->hostDataAccepted;
        processAck(view.ack, nowMs);
        client_->onMessageBytes(view.payload, view.length);
    } else {
        ++counters_->hostDataRejected;
    }
    // Rejected packets cost the host a credit as well, and it needs to hear what we expect.
    queueAckAndCredit();
}

void SimLink::receive(const uint8_t* packet, uint64_t nowMs) {
    ++counters_->reportsReceived;
    switch (packet[0]) {
        case kATPPing:
            // A host that ran out of credit pings; one credit lets it go on.
            if (started_) {
                const uint8_t one = 1;
                queueCommand(kATPCredit, &one, 1);
            }
            break;
        case kATPStatusOut: {
            const ATPStatusPacketView status = ATPParseStatusPacket(packet);
            if (status.status == kATPStatusReset) {
                resetCounters();
            } else if (status.status == kATPStatusAck) {
                onStatusAck(status.ack, nowMs);
            } else if (status.status == kATPStatusResent) {
                processAck(status.ack, nowMs);
            }
            break;
        }
        case kATPStartup2:
            startLink(nowMs);
            break;
        case kATPIdentityAck:
            identityPending_ = false;
            identityDue_ = kNever;
            break;
        case kATPDataOut:
            if (++hostDataSeen_ == options_.loseHostPacket) {
                ++counters_->hostDataLost;
                break;
            }
            receiveData(packet, nowMs);
            break;
        case kATPTextOut: {
            ++counters_->hostTextPackets;
            const uint8_t one = 1;
            queueCommand(kATPCredit, &one, 1);
            ATPCommandPacketView view;
            if (ATPParseCommandPacket(packet, &view) == ATPParseResult::ok) {
                queueText(client_->onTextBytes(view.payload, view.length));
            }
            break;
        }
        default:
            // Start-up 1, close and anything unknown need no answer.
            break;
    }
}

void SimLink::runTimers(uint64_t nowMs) {
    if (identityPending_ && nowMs >= identityDue_) {
        queueIdentity();
        identityDue_ = nowMs + options_.identityRepeatMs;
    }
    if (!unacked_.empty() && !resending_ && nowMs >= resendDue_) {
        fastResendSpent_ = false;
        beginResend();
    }
}

bool SimLink::produceData(uint64_t nowMs) {
    if (resending_) {
        if (resendNext_ != resendEnd_ && !unacked_.empty()) {
            const uint8_t base = static_cast<uint8_t>(txSeq_ - unacked_.size());
            queueData(unacked_[static_cast<uint8_t>(resendNext_ - base)]);
            ++counters_->dataResent;
            resendNext_ = ATPNextSeq(resendNext_);
            return true;
        }
        // Go-back-N: nothing new goes out until the whole window has been sent again.
        resending_ = false;
        resendDue_ = unacked_.empty() ? kNever : nowMs + options_.resendMs;
    }
    if (!started_ || unacked_.size() >= options_.window) {
        return false;
    }
    uint8_t payload[kATPMaxDataPayload];
    const uint32_t n = client_->takeStreamBytes(payload, kATPMaxDataPayload);
    if (n == 0) {
        return false;
    }
    LinkPacket packet;
    ATPBuildDataPacket(packet.bytes, kATPDataIn, rxExpected_, txSeq_, payload, n);
    txSeq_ = ATPNextSeq(txSeq_);
    if (unacked_.empty()) {
        resendDue_ = nowMs + options_.resendMs;
    }
    unacked_.push_back(packet);
    ++counters_->dataSent;
    queueData(packet);
    return true;
}

bool SimLink::nextPacket(uint64_t nowMs, LinkPacket* out) {
    runTimers(nowMs);
    while (outbox_.empty() && produceData(nowMs)) {
    }
    if (outbox_.empty()) {
        return false;
    }
    *out = outbox_.front().packet;
    outbox_.pop_front();
    ++counters_->reportsSent;
    return true;
}

uint64_t SimLink::nextDeadline() const {
    uint64_t due = identityPending_ ? identityDue_ : kNever;
    if (!unacked_.empty() && !resending_) {
        due = std::min(due, resendDue_);
    }
    return due;
}
