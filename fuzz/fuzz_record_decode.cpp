// parseRecData. Input: a flags byte (bit 0: a configuration record; bit 4: round trip), then
// - without bit 4: bits 1 to 3 count the tables, each a length byte and that many bytes; the
//   rest is the record. All are exact-size copies, so ASan sees any read past their ends. Each
//   entry must be one a descriptor of the first table of its record type allows;
// - with bit 4: fields (kind, width, shift, then value or content) that this target lays out in
//   a schema and a record of its own by the format's rules; each must decode to what went in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protocol/schema.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Little(const Bytes& b, size_t at, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size && at + i < b.size(); ++i) {
        value |= uint32_t(b[at + i]) << (8 * i);
    }
    return value;
}

void Put(Bytes* b, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        b->push_back(uint8_t(value >> (8 * i)));
    }
}

// The bytes a bytes field's text stands for: " %02x" each, a line end after byte 64 and every
// 64th after it, one more at the end. Aborts on any other form.
Bytes FromHexLines(const std::string& text) {
    static const std::string kDigits = "0123456789abcdef";
    Bytes out;
    size_t at = 0;
    for (; at + 3 <= text.size() && text[at] == ' '; at += 3) {
        const size_t high = kDigits.find(text[at + 1]), low = kDigits.find(text[at + 2]);
        FUZZ_CHECK(high < 16 && low < 16);
        out.push_back(uint8_t(high * 16 + low));
        if (out.size() % 64 == 1 && out.size() > 1) {
            FUZZ_CHECK(text.compare(at + 3, 2, "\r\n") == 0);
            at += 2;
        }
    }
    FUZZ_CHECK(text.compare(at, std::string::npos, "\r\n") == 0);
    return out;
}

// Bits of a width-bit field's value that must be copies of its top bit (type 2) or zero.
uint32_t Above(uint32_t width) {
    return width >= 32 ? 0 : ~uint32_t(0) << width;
}

// Whether the 8-byte descriptor at table[at] allows entry e from a record of size bytes.
bool Allows(const Bytes& table, size_t at, const RecordEntry& e, size_t size) {
    const uint32_t width = Little(table, at + 6, 2);
    if (Little(table, at, 2) != uint32_t(e.id) || table[at + 5] != e.type || width / 8 > size) {
        return false;
    }
    if (e.type == kFieldText) {  // up to a NUL or the record's end, then CR LF
        return e.text.size() >= 2 && e.text.size() - 2 <= size &&
               e.text.find('\0') == std::string::npos &&
               e.text.compare(e.text.size() - 2, 2, "\r\n") == 0;
    }
    if (e.type == kFieldBytes) {
        return FromHexLines(e.text).size() == width / 8;
    }
    const bool negative = e.type == kFieldSigned && width - 1 < 31 && (e.value >> (width - 1)) & 1;
    return e.text.empty() && (e.value & Above(width)) == (negative ? Above(width) : 0);
}

void CheckAnyInput(const std::vector<Bytes>& tables, const DecodedRecord& decoded) {
    for (const auto& item : decoded.entries) {
        // Only the first table of a record type counts; a configuration record's first byte,
        // signed, names the one it may use.
        std::set<uint32_t> seen;
        bool allowed = false;
        for (const Bytes& t : tables) {
            const uint32_t type = Little(t, 4, 2);
            if (t.size() < 10 || !seen.insert(type).second ||
                (decoded.configuration && int8_t(decoded.payload.at(0)) != int32_t(type))) {
                continue;
            }
            for (size_t at = 10; at + 8 <= t.size() && at < 10 + 8 * Little(t, 8, 2); at += 8) {
                allowed = allowed || Allows(t, at, item.second, decoded.payload.size());
            }
        }
        FUZZ_CHECK(item.first == item.second.id && allowed);
    }
}

// A table's head; descriptors follow (id, word, shift, type, width).
Bytes Table(uint16_t type, uint16_t headerWords, uint16_t count) {
    Bytes t(4);
    Put(&t, type, 2), Put(&t, headerWords, 2), Put(&t, count, 2);
    return t;
}

void CheckRoundTrip(const uint8_t* data, size_t left, bool configuration) {
    auto next = [&data, &left]() -> uint8_t { return left != 0 ? (--left, *data++) : 0; };
    const uint16_t headerWords = 1 + next() % 8;
    uint16_t recType = next();
    recType = configuration ? recType % 128 : recType | next() << 8;
    recType = recType == kHeaderRecordType ? 256 : recType;
    Bytes record;
    Put(&record, recType, configuration ? 1 : 2);
    record.resize(configuration ? 1 : 2 * headerWords);
    const size_t base = record.size();
    Bytes body = Table(recType, 0, 0);
    // What each field must decode to; a bytes field's text holds its raw bytes.
    std::map<int32_t, RecordEntry> sent;
    bool ended = false;  // by a text without its NUL, which runs to the end of the record
    for (int32_t id = 100; left != 0 && !ended && id < 200; ++id) {
        const uint8_t kind = next();
        RecordEntry& e = sent[id] = {id, uint32_t(kind % 16), 0, ""};
        const size_t word = (record.size() - base) / 2;
        uint32_t width = 0, shift = 0;
        if (e.type == kFieldText || e.type == kFieldBytes) {
            const bool text = e.type == kFieldText;
            ended = text && kind & 0x80;
            for (size_t n = text ? next() % 64 : next(); n != 0; --n) {
                e.text += char(text ? std::max<uint8_t>(next(), '?') : next());
            }
            // A text may reach past its width, up to its NUL.
            width = 8 * (text ? next() % (e.text.size() + (ended ? 1 : 2)) : e.text.size());
            record.insert(record.end(), e.text.begin(), e.text.end());
            record.resize(record.size() + (text && !ended));
            e.text += text ? "\r\n" : "";
        } else {
            width = next() % 33;
            shift = next() % 32;
            uint32_t v = 0;
            for (int i = 0; i < 4; ++i) {
                v |= uint32_t(next()) << (8 * i);
            }
            // The word holds room bits above the shift; the field's bits beyond them read as
            // copies of the word's top bit.
            const uint32_t room = 32 - shift;
            v &= ~Above(std::min(width, room));
            v |= width > room && (v >> (room - 1)) & 1 ? Above(room) : 0;
            const bool negative = e.type == kFieldSigned && width != 0 && (v >> (width - 1)) & 1;
            e.value = (v & ~Above(width)) | (negative ? Above(width) : 0);
            // Only the bytes its bits reach: the next field, or the record's end, fills the word.
            Put(&record, uint32_t(v << shift), int(std::min<uint32_t>(4, (shift + width + 7) / 8)));
        }
        if (!ended) {
            record.resize(base + (record.size() - base + 1) / 2 * 2);  // whole words
        }
        Put(&body, uint32_t(id), 2), Put(&body, word, 2), Put(&body, shift, 1);
        Put(&body, e.type, 1), Put(&body, width, 2);
    }
    body[8] = uint8_t(sent.size());
    SchemaList schema;
    if (!configuration) {
        Bytes header = Table(kHeaderRecordType, headerWords, 1);
        Put(&header, uint64_t(kRecTypeFieldId) | 16ull << 48, 8);  // word 0, type 0, width 16
        schema.emplace_back(header);
        sent[kRecTypeFieldId] = {kRecTypeFieldId, 0, recType, ""};
    }
    schema.emplace_back(body);

    const DecodedRecord decoded(schema, record.data(), uint32_t(record.size()), configuration);
    FUZZ_CHECK(decoded.recType == recType && size_t(decoded.bodyOffset) == base);
    FUZZ_CHECK(decoded.entries.size() == sent.size());
    for (const auto& item : sent) {
        const auto got = decoded.entries.find(item.first);
        FUZZ_CHECK(got != decoded.entries.end() && got->second.type == item.second.type);
        const RecordEntry &e = got->second, &want = item.second;
        if (e.type == kFieldBytes) {
            FUZZ_CHECK(FromHexLines(e.text) == Bytes(want.text.begin(), want.text.end()));
        } else {
            FUZZ_CHECK(e.text == want.text && (e.type == kFieldText || e.value == want.value));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    if (data[0] & 0x10) {
        CheckRoundTrip(data + 1, size - 1, data[0] & 1);
        return 0;
    }
    size_t at = 1;
    std::vector<Bytes> tables;
    for (int t = 0; t < ((data[0] >> 1) & 7) && at < size; ++t) {
        const size_t declared = data[at++];
        tables.emplace_back(data + at, data + at + std::min(declared, size - at));
        at += tables.back().size();
    }
    const SchemaList schema(tables.begin(), tables.end());
    const Bytes record(data + at, data + size);
    const DecodedRecord decoded(schema, record.data(), uint32_t(record.size()), data[0] & 1);
    FUZZ_CHECK(decoded.payload == record);
    CheckAnyInput(tables, decoded);
    return 0;
}
