#include "tools/reader-sim/reader_responder.h"

#include <ctime>
#include <utility>

namespace {

const char kLineEnd[] = "\r\n";

// The clock's first seven bytes (second, minute, hour, day, month, year low, year high) as the
// local wall clock shows t; the eighth is kept.
void LocalClockFields(std::time_t t, std::array<uint8_t, 8>* clock) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    const int year = local.tm_year + 1900;
    *clock = {static_cast<uint8_t>(local.tm_sec),     static_cast<uint8_t>(local.tm_min),
              static_cast<uint8_t>(local.tm_hour),    static_cast<uint8_t>(local.tm_mday),
              static_cast<uint8_t>(local.tm_mon + 1), static_cast<uint8_t>(year),
              static_cast<uint8_t>(year >> 8),        (*clock)[7]};
}

}  // namespace

ReaderResponder::ReaderResponder(std::shared_ptr<const Scenario> scenario, int errorOnceType,
                                 ResponderObserver observer, int neverAnswerType,
                                 std::optional<int64_t> clockOffsetS)
    : scenario_(std::move(scenario)),
      errorOnceType_(errorOnceType),
      neverAnswerType_(neverAnswerType),
      clockOffsetS_(clockOffsetS),
      observer_(std::move(observer)) {}

void ReaderResponder::log(const std::string& line) {
    if (observer_.log) {
        observer_.log(line);
    }
}

void ReaderResponder::reset() {
    parser_ = AapParser();
    stream_.clear();
    text_.clear();
}

void ReaderResponder::onLinkStart() {
    reset();
}

void ReaderResponder::onMessageBytes(const uint8_t* bytes, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        switch (parser_.feed(bytes[i])) {
            case AapParser::Result::complete:
                answer(parser_.message());
                break;
            case AapParser::Result::malformed:
                log("AAP length over the limit, skipped");
                break;
            case AapParser::Result::needMore:
                break;
        }
    }
}

std::string ReaderResponder::onTextBytes(const uint8_t* bytes, uint32_t n) {
    text_.append(reinterpret_cast<const char*>(bytes), n);
    std::string reply;
    for (size_t end; (end = text_.find(kLineEnd)) != std::string::npos;) {
        const std::string command = text_.substr(0, end);
        text_.erase(0, end + 2);
        if (observer_.onTextCommand) {
            observer_.onTextCommand(command);
        }
        const Scenario& s = *scenario_;
        if (command == "$sn?") {
            reply += s.serial + kLineEnd + s.secondLine + kLineEnd + "CMD OK\r\n";
        } else if (command == "$ptname?") {
            reply += s.subjectName + kLineEnd + s.secondLine + kLineEnd + "CMD OK\r\n";
        } else {
            reply += "CMD Fail!\r\n";
        }
        log("text command " + command);
    }
    return reply;
}

uint32_t ReaderResponder::takeStreamBytes(uint8_t* out, uint32_t max) {
    return stream_.take(out, max);
}

void ReaderResponder::pushSchema(uint16_t type, const std::vector<TableDef>* schema) {
    // The scenario outlives the producer through the captured pointer.
    auto scenario = scenario_;
    size_t next = 0;
    stream_.push([scenario, schema, type, next](std::vector<uint8_t>* out) mutable {
        if (next > schema->size()) {
            return false;
        }
        *out = next < schema->size() ? AapEncode(type, EncodeSchemaTable((*schema)[next]))
                                     : AapEncode(type, nullptr, 0);
        ++next;
        return true;
    });
}

void ReaderResponder::pushRecords(uint8_t tableId) {
    auto it = scenario_->tables.find(tableId);
    const RecordTable* table = it == scenario_->tables.end() ? nullptr : &it->second;
    auto scenario = scenario_;
    uint32_t next = 0;
    bool done = false;
    stream_.push([scenario, table, tableId, next, done](std::vector<uint8_t>* out) mutable {
        if (done) {
            return false;
        }
        if (!table || next >= table->count) {
            *out = AapEncode(kAAPRecord, nullptr, 0);
            done = true;
            return true;
        }
        // The leading byte carries no meaning for the host; the table id is as good as any.
        std::vector<uint8_t> payload{tableId};
        const std::vector<uint8_t> record = table->record(next++);
        payload.insert(payload.end(), record.begin(), record.end());
        *out = AapEncode(kAAPRecord, payload);
        return true;
    });
}

void ReaderResponder::answer(const AapMessage& request) {
    if (request.type == kAAPEndOfRequest) {
        return;
    }
    if (observer_.onRequest) {
        observer_.onRequest(request);
    }
    const std::string what =
        "AAP request " + std::to_string(request.type) +
        (request.payload.empty() ? std::string() : " id " + std::to_string(request.payload[0]));
    if (neverAnswerType_ == request.type) {
        log(what + ": left unanswered, as asked");
        return;
    }
    if (!errorSpent_ && errorOnceType_ == request.type) {
        errorSpent_ = true;
        log(what + ": answered with an error once, as asked");
        stream_.push(AapEncode(kAAPError, nullptr, 0));
        return;
    }
    log(what);
    const Scenario& s = *scenario_;
    switch (request.type) {
        case kAAPSchema:
            pushSchema(kAAPSchema, &s.schema);
            return;
        case kAAPConfigSchema:
            pushSchema(kAAPConfigSchema, &s.configSchema);
            return;
        case kAAPRecord:
            if (request.payload.empty()) {
                break;
            }
            pushRecords(request.payload[0]);
            return;
        case kAAPConfig: {
            if (request.payload.empty()) {
                break;
            }
            auto it = s.configRecords.find(request.payload[0]);
            stream_.push(it == s.configRecords.end() ? AapEncode(kAAPConfig, nullptr, 0)
                                                     : AapEncode(kAAPConfig, it->second));
            return;
        }
        case kAAPDateTime: {
            std::array<uint8_t, 8> clock = s.clock;
            if (clockOffsetS_) {
                LocalClockFields(std::time(nullptr) + *clockOffsetS_, &clock);
            }
            stream_.push(AapEncode(kAAPDateTime, clock.data(), 8));
            return;
        }
        default:
            break;
    }
    stream_.push(AapEncode(kAAPError, nullptr, 0));
}
