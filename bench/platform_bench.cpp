#include "platform/ring_buffer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kRingCapacity = 4u << 20;
// Bytes moved per iteration: enough that the positions keep wrapping round the ring.
constexpr uint32_t kBurst = 1u << 20;

// Argument: chunk size. Each iteration writes a burst in chunks, then reads it back in chunks.
void BM_RingBufferWriteRead(benchmark::State& state) {
    const uint32_t chunk = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> in(chunk, 0x5A);
    std::vector<uint8_t> out(chunk);
    RingBuffer ring;
    RingBufferCreate(&ring, kRingCapacity);
    const uint32_t chunks = kBurst / chunk;
    for (auto _ : state) {
        for (uint32_t i = 0; i < chunks; ++i) {
            RingBufferWrite(&ring, in.data(), chunk);
        }
        for (uint32_t i = 0; i < chunks; ++i) {
            RingBufferRead(&ring, out.data(), chunk);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * chunks * chunk);
    RingBufferDestroy(&ring);
}
BENCHMARK(BM_RingBufferWriteRead)->Arg(56)->Arg(4096);

// Argument: chunk size. A writer thread and this thread stream a burst through the ring at once.
void BM_RingBufferTwoThreads(benchmark::State& state) {
    const uint32_t chunk = static_cast<uint32_t>(state.range(0));
    const uint32_t total = 16u << 20;
    RingBuffer ring;
    RingBufferCreate(&ring, kRingCapacity);
    std::vector<uint8_t> out(chunk);
    for (auto _ : state) {
        std::thread writer([&ring, chunk, total] {
            std::vector<uint8_t> in(chunk, 0xA5);
            uint32_t sent = 0;
            while (sent < total) {
                const uint32_t want = std::min(chunk, total - sent);
                const uint32_t stored = RingBufferWrite(&ring, in.data(), want);
                sent += stored;
                if (stored < want) {
                    std::this_thread::yield();
                }
            }
        });
        uint32_t received = 0;
        while (received < total) {
            const uint32_t taken =
                RingBufferRead(&ring, out.data(), std::min(chunk, total - received));
            received += taken;
            if (taken == 0) {
                std::this_thread::yield();
            }
        }
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
    RingBufferDestroy(&ring);
}
BENCHMARK(BM_RingBufferTwoThreads)->Arg(56)->Arg(4096)->UseRealTime();

}  // namespace
