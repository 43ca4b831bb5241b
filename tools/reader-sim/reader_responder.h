// What the simulated reader answers: AAP requests from the message stream and text commands from
// the text channel, from its scenario. Sits above SimLink as its LinkClient.
//
// Single-threaded: owned by one simulated reader's sim-link thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/aap_codes.h"
#include "tools/reader-sim/aap_stream.h"
#include "tools/reader-sim/scenario.h"
#include "tools/reader-sim/sim_link.h"

struct ResponderObserver {
    std::function<void(const AapMessage& request)> onRequest;
    std::function<void(const std::string& command)> onTextCommand;  // without its "\r\n"
    std::function<void(const std::string& line)> log;
};

class ReaderResponder : public LinkClient {
public:
    // errorOnceType: the first request of this AAP type gets an empty error message instead of
    // its answer; -1 for none. The error is spent once for the responder's whole life.
    // neverAnswerType: requests of this AAP type get no answer at all; -1 for none.
    // clockOffsetS: the clock answers the local wall clock plus this many seconds; unset: the
    // scenario's clock.
    ReaderResponder(std::shared_ptr<const Scenario> scenario, int errorOnceType,
                    ResponderObserver observer, int neverAnswerType = -1,
                    std::optional<int64_t> clockOffsetS = std::nullopt);

    void onLinkStart() override;
    void onMessageBytes(const uint8_t* bytes, uint32_t n) override;
    std::string onTextBytes(const uint8_t* bytes, uint32_t n) override;
    uint32_t takeStreamBytes(uint8_t* out, uint32_t max) override;

    // Forgets half-received input and unsent answers (a new connection).
    void reset();

private:
    void answer(const AapMessage& request);
    void pushSchema(uint16_t type, const std::vector<TableDef>* schema);
    void pushRecords(uint8_t tableId);
    void log(const std::string& line);

    std::shared_ptr<const Scenario> scenario_;
    int errorOnceType_;
    int neverAnswerType_;
    std::optional<int64_t> clockOffsetS_;
    bool errorSpent_ = false;
    ResponderObserver observer_;
    AapParser parser_;
    AapOutStream stream_;
    std::string text_;
};
