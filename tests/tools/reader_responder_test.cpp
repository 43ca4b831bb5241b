#include "tools/reader-sim/reader_responder.h"

#include <gtest/gtest.h>

namespace {

TEST(SimReaderResponder, AnswersEveryRequestKindThenEndsItsLists) {
    DefaultScenarioParams params;
    params.records = 3;
    params.events = 0;
    auto scenario = MakeDefaultScenario(params);
    std::vector<uint16_t> observed;
    ReaderResponder responder(scenario, kAapConfigSchema,
                              {[&](const AapMessage& m) { observed.push_back(m.type); }, {}, {}});

    const std::vector<AapMessage> requests = {
        {kAapSchema, {}},        {kAapConfigSchema, {}},
        {kAapConfigSchema, {}},  {kAapRecords, {6}},
        {kAapRecords, {7}},      {kAapRecords, {9}},
        {kAapConfigRecord, {1}}, {kAapConfigRecord, {2}},
        {kAapClock, {}},         {77, {}},
        {kAapRecords, {}},
    };
    // Every request is followed by a type 125, and the bytes arrive in uneven pieces.
    std::vector<uint8_t> in;
    for (const AapMessage& r : requests) {
        for (const auto& m : {AapEncode(r.type, r.payload), AapEncode(kAapEndOfRequest, {})}) {
            in.insert(in.end(), m.begin(), m.end());
        }
    }
    for (size_t at = 0; at < in.size(); at += 3) {
        responder.onMessageBytes(in.data() + at,
                                 static_cast<uint32_t>(std::min<size_t>(3, in.size() - at)));
    }

    std::vector<std::pair<uint16_t, size_t>> answers;
    std::vector<std::vector<uint8_t>> records;
    AapParser parser;
    uint8_t chunk[56];
    while (uint32_t n = responder.takeStreamBytes(chunk, sizeof chunk)) {
        for (uint32_t i = 0; i < n; ++i) {
            if (parser.feed(chunk[i]) == AapParser::Result::complete) {
                answers.emplace_back(parser.message().type, parser.message().payload.size());
                if (parser.message().type == kAapRecords && !parser.message().payload.empty()) {
                    records.push_back(parser.message().payload);
                }
            }
        }
    }
    const std::vector<std::pair<uint16_t, size_t>> expected = {
        {52, 34}, {52, 74}, {52, 34}, {52, 0},  // header, reading and event tables, end
        {126, 0},                               // the one error asked for
        {84, 42}, {84, 0},  {49, 41}, {49, 41}, {49, 41}, {49, 0},  // table 6
        {49, 0},                                                    // table 7 is empty
        {49, 0},                                                    // table 9 does not exist
        {81, 19}, {81, 0},   // calibration 1; no configuration 2
        {65, 8},  {126, 0},  // unknown type
        {126, 0},            // records without a table id
    };
    EXPECT_EQ(answers, expected);
    ASSERT_EQ(records.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i][0], 6);
        EXPECT_EQ(std::vector<uint8_t>(records[i].begin() + 1, records[i].end()),
                  scenario->tables.at(6).record(i));
    }
    EXPECT_EQ(observed.size(), requests.size()) << "type 125 is not a request of its own";
}

TEST(SimReaderResponder, AnswersTextCommandsLineByLine) {
    auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    std::vector<std::string> commands;
    ReaderResponder responder(scenario, -1,
                              {{}, [&](const std::string& c) { commands.push_back(c); }, {}});
    const std::string first = "$sn";
    EXPECT_EQ(responder.onTextBytes(reinterpret_cast<const uint8_t*>(first.data()), 3), "");
    const std::string rest = "?\r\n$ptname?\r\n$bad\r\n";
    const std::string reply =
        responder.onTextBytes(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    EXPECT_EQ(reply, scenario->serial + "\r\n" + scenario->secondLine + "\r\nCMD OK\r\n" +
                         scenario->subjectName + "\r\n" + scenario->secondLine +
                         "\r\nCMD OK\r\nCMD Fail!\r\n");
    EXPECT_EQ(commands, (std::vector<std::string>{"$sn?", "$ptname?", "$bad"}));
}

}  // namespace
