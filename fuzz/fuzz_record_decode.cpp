// parseRecData over an arbitrary schema list and record. Input: a flags byte (bit 0: a
// configuration record; bits 1 to 3: the number of tables), then each table as a length byte
// and that many bytes, then the record. Tables and record are exact-size copies, so ASan sees
// any read past their ends.
//
// Invariants: every entry comes from a descriptor the used tables really hold, under its own
// id and type; its text or bytes are found in the record at that field's place; numbers fit
// their width; records without a header table or header field 8 get no entries; decoding
// again gives the same entries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "protocol/schema.h"

namespace {

struct Candidate {
    FieldDescriptor field;
    size_t start;  // the field's first byte in the payload
};

// Descriptors of table with this id that lie inside the payload.
void AddCandidates(const SchemaTable* table, int32_t id, int64_t base, size_t payloadSize,
                   std::vector<Candidate>* out) {
    if (!table) {
        return;
    }
    for (uint32_t i = 0; i < table->fieldCount(); ++i) {
        const FieldDescriptor field = table->field(i);
        const int64_t start = base + 2 * int64_t(field.wordOffset);
        if (field.id == id && start >= 0 && start + field.width / 8 <= int64_t(payloadSize)) {
            out->push_back({field, size_t(start)});
        }
    }
}

bool TextMatches(const DecodedRecord& record, const Candidate& c, const std::string& text) {
    if (c.field.type != kFieldText || text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n")) {
        return false;
    }
    const size_t length = text.size() - 2;
    const std::vector<uint8_t>& p = record.payload;
    if (c.start + length > p.size() || (c.start + length < p.size() && p[c.start + length])) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\0' || uint8_t(text[i]) != p[c.start + i]) {
            return false;
        }
    }
    return true;
}

bool BytesMatch(const DecodedRecord& record, const Candidate& c, const std::string& text) {
    if (c.field.type != kFieldBytes) {
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string expected;
    const size_t size = c.field.width / 8;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = record.payload[c.start + i];
        expected += {' ', kHex[byte >> 4], kHex[byte & 15]};
        if (i != 0 && i % 64 == 0) {
            expected += "\r\n";
        }
    }
    return text == expected + "\r\n";
}

bool NumberFits(const Candidate& c, const RecordEntry& entry) {
    const FieldDescriptor& f = c.field;
    if (f.type == kFieldText || f.type == kFieldBytes || !entry.text.empty()) {
        return false;
    }
    if (f.width >= 32) {
        return true;
    }
    const uint32_t high = f.width == 0 ? entry.value : entry.value >> f.width;
    if (f.type == kFieldSigned && f.width > 0 && (entry.value >> (f.width - 1)) & 1) {
        return high == (0xFFFFFFFFu >> f.width);
    }
    return high == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool configuration = data[0] & 1;
    const int tableCount = (data[0] >> 1) & 7;
    size_t at = 1;
    SchemaList schema;
    for (int t = 0; t < tableCount && at < size; ++t) {
        const size_t declared = data[at++];
        const size_t length = std::min(declared, size - at);
        schema.emplace_back(std::vector<uint8_t>(data + at, data + at + length));
        at += length;
        const SchemaTable& table = schema.back();
        FUZZ_CHECK(table.fieldCount() <= table.declaredFieldCount());
        FUZZ_CHECK(kSchemaTableHeadSize + 8 * size_t(table.fieldCount()) <= length ||
                   table.fieldCount() == 0);
    }
    const std::vector<uint8_t> bytes(data + at, data + size);
    const DecodedRecord record(schema, bytes.data(), uint32_t(bytes.size()), configuration);
    FUZZ_CHECK(record.payload == bytes);

    const SchemaTable* header = configuration ? nullptr : findSchemaTable(schema, 255);
    if (configuration) {
        FUZZ_CHECK(bytes.empty() || record.recType == int8_t(bytes[0]));
    } else if (!header) {
        FUZZ_CHECK(record.entries.empty());
    } else {
        FUZZ_CHECK(record.bodyOffset == 2 * int32_t(header->headerWords()));
        std::vector<Candidate> eight;
        AddCandidates(header, kRecTypeFieldId, 0, bytes.size(), &eight);
        FUZZ_CHECK(!eight.empty() || record.entries.empty());
    }
    const SchemaTable* body = findSchemaTable(schema, record.recType);

    for (const auto& item : record.entries) {
        const RecordEntry& entry = item.second;
        FUZZ_CHECK(item.first == entry.id);
        std::vector<Candidate> candidates;
        AddCandidates(header, entry.id, 0, bytes.size(), &candidates);
        AddCandidates(body, entry.id, record.bodyOffset, bytes.size(), &candidates);
        bool explained = false;
        for (const Candidate& c : candidates) {
            explained = explained || (c.field.type == entry.type &&
                                      (TextMatches(record, c, entry.text) ||
                                       BytesMatch(record, c, entry.text) || NumberFits(c, entry)));
        }
        FUZZ_CHECK(explained);
    }

    DecodedRecord again = record;
    again.entries.clear();
    parseRecData(again, schema);
    FUZZ_CHECK(again.entries.size() == record.entries.size());
    for (const auto& item : record.entries) {
        const auto other = again.entries.find(item.first);
        FUZZ_CHECK(other != again.entries.end());
        FUZZ_CHECK(other->second.type == item.second.type &&
                   other->second.value == item.second.value &&
                   other->second.text == item.second.text);
    }
    return 0;
}
