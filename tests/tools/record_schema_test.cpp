// The worked example's bytes, which the end-to-end tests expect to decode to the documented
// record: this tells a fault of the simulator's encoding from one of the host's decoding.
#include <gtest/gtest.h>

#include "tools/reader-sim/scenario.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimRecordSchema, WorkedExampleProducesTheDocumentedBytes) {
    std::string error;
    auto s = LoadScenario("worked-example", DefaultScenarioParams(), &error);
    ASSERT_TRUE(s && s->schema.size() == 2 && s->tables.at(6).count == 1) << error;
    EXPECT_EQ(EncodeSchemaTable(s->schema[0]), (Bytes{0, 0, 0, 0,  0xFF, 0, 2, 0, 2, 0, 0, 0,  0,
                                                      0, 0, 0, 16, 0,    8, 0, 1, 0, 0, 0, 16, 0}));
    EXPECT_EQ(EncodeSchemaTable(s->schema[1]), (Bytes{0, 0, 0, 0,  5, 0,   0, 0, 2, 0, 90, 0, 0,
                                                      0, 0, 3, 80, 0, 100, 0, 5, 0, 4, 2,  4, 0}));
    EXPECT_EQ(s->tables.at(6).record(0),
              (Bytes{7, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0}));
}

}  // namespace
