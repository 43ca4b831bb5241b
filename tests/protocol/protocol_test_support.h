// Shared by the protocol tests: the debug log captured in a file, and byte helpers.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tests/support/log_file.h"

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<std::pair<uint16_t, Bytes>>;  // each message's type and payload

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
