#include <gtest/gtest.h>

#include <vector>

#include "platform/ring_buffer.h"

namespace {

TEST(RingBuffer, KeepsWhatFitsInOrderAcrossTheEnd) {
    RingBuffer ring;
    RingBufferCreate(&ring, 16);
    const uint8_t bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    uint8_t out[32];
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 12), 12u);
    EXPECT_EQ(RingBufferRead(&ring, out, 10), 10u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 16), 14u);  // 14 free, 4 to the end: the first 14 kept
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 1), 0u);    // full
    EXPECT_EQ(RingBufferCount(&ring), 16u);
    ASSERT_EQ(RingBufferRead(&ring, out, 32), 16u);  // across the end too
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16),
              (std::vector<uint8_t>{10, 11, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(RingBufferRead(&ring, out, 32), 0u);  // empty

    EXPECT_EQ(RingBufferWrite(&ring, bytes, 5), 5u);
    RingBufferReset(&ring);
    EXPECT_EQ(RingBufferCount(&ring), 0u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 16), 16u);
    RingBufferDestroy(&ring);
}

}  // namespace
