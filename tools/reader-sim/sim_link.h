// The reader's side of the ATP link, as a state machine without I/O or clocks of its own: fed
// the host's packets and the time, it hands out the packets to send. Link start and identity,
// acknowledgements and credit for the host's packets, sequence and checksum checks, and for its
// own data packets a go-back-N window, resent by a timer or at once on a repeated
// acknowledgement, plus the outgoing-packet faults.
//
// Single-threaded: owned by one simulated reader's sim-link thread (tests drive it directly).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/reader-sim/sim_random.h"
#include "transport/atp_packet.h"

// What the link carries for the reader above it.
class LinkClient {
public:
    virtual ~LinkClient() = default;
    // The host started the link afresh: forget half-received requests and unsent answers.
    virtual void onLinkStart() = 0;
    // Payload of an accepted host data packet, in sequence.
    virtual void onMessageBytes(const uint8_t* bytes, uint32_t n) = 0;
    // Text of a host text packet; returns text to send back on the text channel (may be empty).
    virtual std::string onTextBytes(const uint8_t* bytes, uint32_t n) = 0;
    // Moves up to max bytes of the outgoing AAP stream into out; returns how many.
    virtual uint32_t takeStreamBytes(uint8_t* out, uint32_t max) = 0;
};

struct LinkOptions {
    uint32_t window = 8;     // data packets in flight, 1..127
    uint8_t hostWindow = 4;  // credit granted to the host at link start
    uint8_t identityClass = 1;
    std::string identity;
    uint32_t resendMs = 300;
    uint32_t identityRepeatMs = 500;
    // Faults on outgoing data packets, drawn from a generator seeded with faultSeed.
    double dropP = 0;
    double corruptP = 0;
    double duplicateP = 0;
    uint64_t faultSeed = 1;
    // The Nth host data packet (counting resends) is lost on the wire: no acknowledgement, no
    // credit. 0: none.
    uint64_t loseHostPacket = 0;
};

struct LinkCounters {
    uint64_t reportsSent = 0;  // every packet handed out, faults applied
    uint64_t reportsReceived = 0;
    uint64_t dataSent = 0;     // data packets sent for the first time
    uint64_t dataResent = 0;   // data packets sent again (timer or repeated acknowledgement)
    uint64_t fastResends = 0;  // go-back-N resends started by a repeated acknowledgement
    uint64_t dataDropped = 0;  // data packets dropped by the drop fault
    uint64_t dataCorrupted = 0;
    uint64_t dataDuplicated = 0;
    uint64_t hostDataAccepted = 0;
    uint64_t hostDataRejected = 0;  // out of sequence, bad checksum or malformed
    uint64_t hostDataLost = 0;      // by the lost-host-packet fault
    uint64_t hostTextPackets = 0;
    uint64_t identitiesSent = 0;
    uint64_t linkStarts = 0;
};

struct LinkPacket {
    uint8_t bytes[kATPPacketSize];
};

class SimLink {
public:
    static constexpr uint64_t kNever = ~uint64_t{0};

    SimLink(const LinkOptions& options, LinkClient* client, LinkCounters* counters);

    // Handles one 64-byte packet from the host received at nowMs.
    void receive(const uint8_t* packet, uint64_t nowMs);

    // Returns the next packet due at nowMs in out, or false when nothing is due. Runs the resend
    // and identity timers and pulls new data from the client while the window has room.
    bool nextPacket(uint64_t nowMs, LinkPacket* out);

    // Returns when a timer falls due (nextPacket must then be called), or kNever.
    uint64_t nextDeadline() const;

    bool started() const { return started_; }
    bool identityAcked() const { return started_ && !identityPending_; }
    uint8_t nextSeq() const { return txSeq_; }
    uint8_t expectedHostSeq() const { return rxExpected_; }
    size_t inFlight() const { return unacked_.size(); }

private:
    struct Outgoing {
        LinkPacket packet;
        bool data;  // data packets are dropped from the queue by a link reset
    };

    void resetCounters();
    void startLink(uint64_t nowMs);
    void queueCommand(uint8_t code, const uint8_t* payload, uint32_t n);
    void queueAckAndCredit();
    void queueIdentity();
    void queueText(const std::string& text);
    void queueData(const LinkPacket& stored);
    void processAck(uint8_t ack, uint64_t nowMs);
    void onStatusAck(uint8_t ack, uint64_t nowMs);
    void beginResend();
    void receiveData(const uint8_t* packet, uint64_t nowMs);
    void runTimers(uint64_t nowMs);
    bool produceData(uint64_t nowMs);

    LinkOptions options_;
    LinkClient* client_;
    LinkCounters* counters_;
    SimRandom faults_;

    bool started_ = false;
    bool identityPending_ = false;
    uint64_t identityDue_ = kNever;

    uint8_t txSeq_ = 0;
    uint8_t rxExpected_ = 0;
    std::deque<LinkPacket> unacked_;  // oldest first; front has sequence txSeq_ - size
    uint64_t resendDue_ = kNever;     // set while unacked_ is not empty
    bool resending_ = false;
    uint8_t resendNext_ = 0;  // next sequence number to resend
    uint8_t resendEnd_ = 0;   // txSeq_ when the resend began
    // The host's last status acknowledgement; its data packets' numbers do not count, since
    // the host's timer acknowledges again what a data packet has already carried.
    bool haveStatusAck_ = false;
    uint8_t lastStatusAck_ = 0;
    // A repeated acknowledgement has started its resend; the next one waits for progress or the
    // timer, so a burst of repeats costs one resend.
    bool fastResendSpent_ = false;

    std::deque<Outgoing> outbox_;
    uint64_t hostDataSeen_ = 0;
};
