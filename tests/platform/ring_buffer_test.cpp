#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/os.h"
#include "platform/ring_buffer.h"

namespace {

std::vector<uint8_t> sequence(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class RingBufferTest : public ::testing::Test {
protected:
    void SetUp() override { RingBufferCreate(&ring, 16); }
    void TearDown() override { RingBufferDestroy(&ring); }
    RingBuffer ring;
};

TEST_F(RingBufferTest, WriteStoresOnlyWhatFits) {
    const auto bytes = sequence(16);
    EXPECT_EQ(RingBufferWrite(&ring, bytes.data(), 12), 12u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes.data(), 10), 4u);  // 4 free: the first 4 are kept
    EXPECT_EQ(RingBufferCount(&ring), 16u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes.data(), 1), 0u);  // full
    EXPECT_EQ(RingBufferWrite(&ring, bytes.data(), 0), 0u);

    std::vector<uint8_t> out(32);
    EXPECT_EQ(RingBufferRead(&ring, out.data(), 32), 16u);
    const std::vector<uint8_t> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1, 2, 3};
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 16), expected);
    EXPECT_EQ(RingBufferRead(&ring, out.data(), 32), 0u);  // empty
}

TEST_F(RingBufferTest, BytesAcrossTheEndComeBackInOrder) {
    std::vector<uint8_t> out(16);
    uint8_t next = 0;
    uint8_t expected = 0;
    // Chunk sizes that do not divide the capacity, so writes and reads wrap at every offset.
    for (int round = 0; round < 50; ++round) {
        const auto bytes = sequence(7, next);
        const uint32_t stored = RingBufferWrite(&ring, bytes.data(), 7);
        next = uint8_t(next + stored);
        const uint32_t taken = RingBufferRead(&ring, out.data(), 5);
        for (uint32_t i = 0; i < taken; ++i) {
            ASSERT_EQ(out[i], expected++) << "round " << round;
        }
    }
    const uint32_t rest = RingBufferRead(&ring, out.data(), 16);
    for (uint32_t i = 0; i < rest; ++i) {
        EXPECT_EQ(out[i], expected++);
    }
    EXPECT_EQ(expected, next);
}

TEST_F(RingBufferTest, ResetEmptiesTheRing) {
    const auto bytes = sequence(16);
    RingBufferWrite(&ring, bytes.data(), 10);
    RingBufferReset(&ring);
    EXPECT_EQ(RingBufferCount(&ring), 0u);
    EXPECT_EQ(RingBufferWrite(&ring, bytes.data(), 16), 16u);
}

TEST(RingBuffer, RingWithoutStorageStoresNothing) {
    RingBuffer ring;
    RingBufferCreate(&ring, 0);
    const uint8_t byte = 1;
    uint8_t out = 0;
    EXPECT_EQ(RingBufferWrite(&ring, &byte, 1), 0u);
    EXPECT_EQ(RingBufferRead(&ring, &out, 1), 0u);
    EXPECT_EQ(RingBufferCount(&ring), 0u);
    RingBufferDestroy(&ring);
}

struct Stream {
    RingBuffer ring;
    uint32_t total;
};

void writeStream(void* argument) {
    auto* stream = static_cast<Stream*>(argument);
    uint8_t chunk[61];
    uint32_t sent = 0;
    while (sent < stream->total) {
        const uint32_t n = std::min<uint32_t>(sizeof chunk, stream->total - sent);
        for (uint32_t i = 0; i < n; ++i) {
            chunk[i] = uint8_t((sent + i) * 7);
        }
        sent += RingBufferWrite(&stream->ring, chunk, n);  // a full ring takes fewer
    }
}

TEST(RingBuffer, ConcurrentWriterAndReaderSeeOneOrderedStream) {
    Stream stream{{}, 4u << 20};
    RingBufferCreate(&stream.ring, 1000);
    OsHandle writer = OsCreateThread("ring-writer", writeStream, &stream);
    uint8_t out[97];
    uint32_t received = 0;
    while (received < stream.total) {
        const uint32_t n = RingBufferRead(&stream.ring, out, sizeof out);
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[i], uint8_t((received + i) * 7)) << "at byte " << received + i;
        }
        received += n;
    }
    EXPECT_EQ(OsWait(writer, 10000), kWaitSignalled);
    EXPECT_EQ(RingBufferCount(&stream.ring), 0u);
    OsCloseHandle(writer);
    RingBufferDestroy(&stream.ring);
}

}  // namespace
