// Deterministic numbers for scenarios and faults. splitmix64 is fixed and tiny, so a seed gives
// the same records and the same faults on every machine and standard library (the standard
// distributions are free to differ between library versions).
#pragma once

#include <cstdint>

class SimRandom {
public:
    explicit SimRandom(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Returns a value in [0, bound); bound 0 gives 0. The slight modulo bias is irrelevant here.
    uint32_t below(uint32_t bound) {
        return bound == 0 ? 0 : static_cast<uint32_t>(next() % bound);
    }

    // Returns true with probability p (p <= 0 never, p >= 1 always).
    bool chance(double p) {
        if (p <= 0.0) {
            return false;
        }
        return static_cast<double>(next() >> 11) * 0x1.0p-53 < p;
    }

private:
    uint64_t state_;
};

// Combines a seed with a stream label and an index into an independent generator seed, so
// record i can be made without making records 0..i-1 first.
inline uint64_t SimSeedFor(uint64_t seed, uint64_t stream, uint64_t index) {
    SimRandom mix(seed ^ (stream * 0xD1B54A32D192ED03ull));
    mix.next();
    SimRandom mixIndex(mix.next() ^ index);
    return mixIndex.next();
}
