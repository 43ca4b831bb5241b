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
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 10), 4u);  // 4 free: the first 4 are kept
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 1), 0u);   // full
    EXPECT_EQ(RingBufferCount(&ring), 16u);
    ASSERT_EQ(RingBufferRead(&ring, out, 32), 16u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 16),
              (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3}));
    EXPECT_EQ(RingBufferRead(&ring, out, 32), 0u);  // empty

    // Chunk sizes that do not divide the capacity, so writes and reads wrap at every offset.
    uint8_t next = 0;
    uint8_t expected = 0;
    for (int round = 0; round < 50; ++round) {
        uint8_t chunk[7];
        for (uint8_t& byte : chunk) {
            byte = uint8_t(next + (&byte - chunk));
        }
        next = uint8_t(next + RingBufferWrite(&ring, chunk, 7));
        const uint32_t taken = RingBufferRead(&ring, out, round % 3 == 2 ? 16 : 5);
        for (uint32_t i = 0; i < taken; ++i) {
            ASSERT_EQ(out[i], expected++) << "round " << round;
        }
    }
    RingBufferReset(&ring);
    EXPECT_EQ(RingBufferCount(&ring), 0u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes, 16), 16u);
    RingBufferDestroy(&ring);
}

}  // namespace
