// parseRecData over an arbitrary schema list and record. Input: a flags byte (bit 0: a
// configuration record; bits 1 to 3: the number of tables), then each table as a length byte
// and that many bytes, then the record. Tables and record are exact-size copies, so ASan sees
// any read past their ends.
//
// Invariant: the entries are exactly what the wire format's rules give, worked out here from
// the raw bytes alone (little-endian words at fixed offsets, the first table of a type wins, a
// field is decoded only when its bytes lie inside the record, a later field of the same id
// replaces an earlier one). Where the format leaves a choice, the product keeps nothing: no
// table 255, or a header without field 8.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protocol/schema.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Expected {
    uint32_t type;
    uint32_t value;
    std::string text;
};
using Entries = std::map<int32_t, Expected>;

uint32_t Little(const Bytes& b, size_t at, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        value |= uint32_t(at + i < b.size() ? b[at + i] : 0) << (8 * i);
    }
    return value;
}

// The first table whose record type is type; a table without its 10-byte head has none.
const Bytes* Find(const std::vector<Bytes>& tables, int64_t type) {
    for (const Bytes& t : tables) {
        if (t.size() >= 10 && Little(t, 4, 2) == type) {
            return &t;
        }
    }
    return nullptr;
}

void DecodeAll(const Bytes& table, const Bytes& record, size_t base, Entries* out) {
    const size_t held = std::min<size_t>(Little(table, 8, 2), (table.size() - 10) / 8);
    for (size_t i = 0; i < held; ++i) {
        const size_t d = 10 + 8 * i;
        const uint32_t type = table[d + 5];
        const uint32_t width = Little(table, d + 6, 2);
        const size_t at = base + 2 * size_t(Little(table, d + 2, 2));
        if (at + width / 8 > record.size()) {
            continue;
        }
        Expected e{type, 0, {}};
        if (type == 3) {
            for (size_t p = at; p < record.size() && record[p] != 0; ++p) {
                e.text += char(record[p]);
            }
            e.text += "\r\n";
        } else if (type == 4) {
            static const char kHex[] = "0123456789abcdef";
            for (size_t k = 0; k < width / 8; ++k) {
                e.text += {' ', kHex[record[at + k] >> 4], kHex[record[at + k] & 15]};
                e.text += k % 64 == 0 && k != 0 ? "\r\n" : "";
            }
            e.text += "\r\n";
        } else {
            // In 64 bits, so that a shift of 32 or more still fills with the sign.
            const int64_t word = int32_t(Little(record, at, 4));
            const uint64_t shifted = uint64_t(word >> std::min<uint32_t>(table[d + 4], 63));
            const uint64_t mask = width >= 32 ? 0xFFFFFFFF : (uint64_t(1) << width) - 1;
            uint64_t value = shifted & mask;
            if (type == 2 && width > 0 && width < 32 && (value >> (width - 1)) & 1) {
                value |= ~mask;
            }
            e.value = uint32_t(value);
        }
        (*out)[int32_t(Little(table, d, 2))] = e;
    }
}

Entries Reference(const std::vector<Bytes>& tables, const Bytes& record, bool configuration) {
    Entries entries;
    int64_t recType;
    size_t base = 1;
    if (configuration) {
        if (record.empty()) {
            return entries;
        }
        recType = int8_t(record[0]);
    } else {
        const Bytes* header = Find(tables, 255);
        if (!header) {
            return entries;
        }
        base = 2 * size_t(Little(*header, 6, 2));
        DecodeAll(*header, record, 0, &entries);
        if (!entries.count(8)) {
            return {};
        }
        recType = entries[8].value;
    }
    if (const Bytes* body = Find(tables, recType)) {
        DecodeAll(*body, record, base, &entries);
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool configuration = data[0] & 1;
    const int tableCount = (data[0] >> 1) & 7;
    size_t at = 1;
    std::vector<Bytes> tables;
    SchemaList schema;
    for (int t = 0; t < tableCount && at < size; ++t) {
        const size_t declared = data[at++];
        const size_t length = std::min(declared, size - at);
        tables.emplace_back(data + at, data + at + length);
        schema.emplace_back(tables.back());
        at += length;
    }
    const Bytes bytes(data + at, data + size);
    const DecodedRecord record(schema, bytes.data(), uint32_t(bytes.size()), configuration);
    FUZZ_CHECK(record.payload == bytes);

    const Entries expected = Reference(tables, bytes, configuration);
    FUZZ_CHECK(record.entries.size() == expected.size());
    for (const auto& item : record.entries) {
        const auto want = expected.find(item.first);
        FUZZ_CHECK(want != expected.end());
        const RecordEntry& got = item.second;
        FUZZ_CHECK(got.id == item.first && got.type == want->second.type);
        FUZZ_CHECK(got.text == want->second.text);
        FUZZ_CHECK(got.type == 3 || got.type == 4 || got.value == want->second.value);
    }
    return 0;
}
