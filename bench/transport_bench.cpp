#include "transport/atp_packet.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Argument: buffer size in bytes, a whole number of words.
void BM_ATPCrc32(benchmark::State& state) {
    const uint32_t bytes = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> buffer(bytes);
    for (uint32_t i = 0; i < bytes; ++i) {
        buffer[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ATPCrc32(buffer.data(), bytes / 4));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_ATPCrc32)->Arg(kATPMaxDataPayload)->Arg(64 * 1024);

// A full data packet built and checked again, as the two ends of a link do per packet.
void BM_ATPDataPacketBuildParse(benchmark::State& state) {
    uint8_t payload[kATPMaxDataPayload];
    for (uint32_t i = 0; i < kATPMaxDataPayload; ++i) {
        payload[i] = static_cast<uint8_t>(i);
    }
    uint8_t packet[kATPPacketSize];
    uint8_t seq = 0;
    for (auto _ : state) {
        ATPBuildDataPacket(packet, kATPDataOut, 0, seq, payload, kATPMaxDataPayload);
        ATPDataPacketView view;
        benchmark::DoNotOptimize(ATPParseDataPacket(packet, &view));
        seq = ATPNextSeq(seq);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kATPMaxDataPayload);
}
BENCHMARK(BM_ATPDataPacketBuildParse);

}  // namespace
