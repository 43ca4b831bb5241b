#include "tools/reader-sim/record_schema.h"

#include <algorithm>
#include <set>

namespace {

void PutU16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

bool IsNumeric(uint8_t type) {
    return type != kFieldText && type != kFieldBytes;
}

uint32_t NumericBits(const FieldDef& f) {
    return std::min<uint32_t>(f.width, 32);
}

// Bytes a field occupies from its first byte: its nominal size, and for numbers the bytes that
// hold its bits.
uint32_t FieldExtent(const FieldDef& f) {
    uint32_t size = f.width / 8u;
    if (IsNumeric(f.type)) {
        size = std::max(size, (f.shift + NumericBits(f) + 7u) / 8u);
    }
    return size;
}

std::string FieldName(const FieldDef& f, uint16_t recordType) {
    return "field " + std::to_string(f.id) + " of record type " + std::to_string(recordType);
}

bool CheckNumber(const FieldDef& f, uint16_t recordType, int64_t v, std::string* error) {
    const uint32_t bits = NumericBits(f);
    if (f.shift + bits > 32) {
        *error = FieldName(f, recordType) + ": shift + width exceed 32 bits, cannot encode";
        return false;
    }
    int64_t low = 0;
    int64_t high = (int64_t{1} << bits) - 1;
    if (f.type == kFieldSigned) {
        low = bits == 0 ? 0 : -(int64_t{1} << (bits - 1));
        high = bits == 0 ? 0 : (int64_t{1} << (bits - 1)) - 1;
    }
    if (v < low || v > high) {
        *error = FieldName(f, recordType) + ": value " + std::to_string(v) + " outside " +
                 std::to_string(low) + ".." + std::to_string(high);
        return false;
    }
    return true;
}

bool WriteField(const FieldDef& f, uint16_t recordType, uint32_t base, const FieldValue& value,
                std::vector<uint8_t>* record, std::string* error) {
    const uint32_t at = base + 2u * f.word;
    const uint32_t size = f.width / 8u;
    if (IsNumeric(f.type)) {
        if (!value.isNumber) {
            *error = FieldName(f, recordType) + ": expects a number";
            return false;
        }
        if (!CheckNumber(f, recordType, value.number, error)) {
            return false;
        }
        const uint32_t bits = NumericBits(f);
        const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u;
        const uint32_t word = (static_cast<uint32_t>(value.number) & mask) << f.shift;
        for (uint32_t i = 0; i < 4 && at + i < record->size(); ++i) {
            (*record)[at + i] |= static_cast<uint8_t>(word >> (8 * i));
        }
        return true;
    }
    if (value.isNumber) {
        *error = FieldName(f, recordType) +
                 (f.type == kFieldText ? ": expects a text" : ": expects hex bytes");
        return false;
    }
    // Text needs room for its terminating NUL inside the field.
    const size_t room = f.type == kFieldText ? (size == 0 ? 0 : size - 1) : size;
    if (value.bytes.size() > room) {
        *error = FieldName(f, recordType) + ": " + std::to_string(value.bytes.size()) +
                 " bytes do not fit in " + std::to_string(room);
        return false;
    }
    for (uint32_t i = 0; i < size && at + i < record->size(); ++i) {
        (*record)[at + i] = i < value.bytes.size() ? static_cast<uint8_t>(value.bytes[i]) : 0;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeSchemaTable(const TableDef& table) {
    std::vector<uint8_t> out;
    out.reserve(10 + 8 * table.fields.size());
    PutU16(&out, 0);
    PutU16(&out, 0);
    PutU16(&out, table.recordType);
    PutU16(&out, table.headerWords);
    PutU16(&out, static_cast<uint16_t>(table.fields.size()));
    for (const FieldDef& f : table.fields) {
        PutU16(&out, f.id);
        PutU16(&out, f.word);
        out.push_back(f.shift);
        out.push_back(f.type);
        PutU16(&out, f.width);
    }
    return out;
}

const TableDef* FindTable(const std::vector<TableDef>& schema, uint16_t recordType) {
    for (const TableDef& table : schema) {
        if (table.recordType == recordType) {
            return &table;
        }
    }
    return nullptr;
}

bool EncodeRecord(const std::vector<TableDef>& schema, bool configuration, uint16_t recordType,
                  const FieldValues& values, int64_t forcedLength, std::vector<uint8_t>* out,
                  std::string* error) {
    const TableDef* header = nullptr;
    uint32_t bodyOffset = 1;
    if (configuration) {
        if (recordType > 0xFF) {
            *error = "configuration record type " + std::to_string(recordType) +
                     " does not fit its one byte";
            return false;
        }
    } else {
        header = FindTable(schema, kHeaderRecordType);
        if (!header) {
            *error = "the schema has no header table (record type 255)";
            return false;
        }
        bodyOffset = 2u * header->headerWords;
    }
    const TableDef* body = FindTable(schema, recordType);
    if (!body) {
        *error = "the schema has no table for record type " + std::to_string(recordType);
        return false;
    }

    FieldValues all = values;
    const bool headerHasType =
        header && std::any_of(header->fields.begin(), header->fields.end(),
                              [](const FieldDef& f) { return f.id == kRecTypeFieldId; });
    if (headerHasType) {
        auto it = all.find(kRecTypeFieldId);
        if (it != all.end() && (!it->second.isNumber || it->second.number != recordType)) {
            *error = "header field 8 contradicts record type " + std::to_string(recordType);
            return false;
        }
        all[kRecTypeFieldId] = FieldValue::Number(recordType);
    }

    std::set<uint16_t> known;
    uint32_t end = bodyOffset;
    if (header) {
        for (const FieldDef& f : header->fields) {
            known.insert(f.id);
            end = std::max(end, 2u * f.word + FieldExtent(f));
        }
    }
    for (const FieldDef& f : body->fields) {
        known.insert(f.id);
        end = std::max(end, bodyOffset + 2u * f.word + FieldExtent(f));
    }
    for (const auto& entry : all) {
        if (!known.count(entry.first)) {
            *error = "record type " + std::to_string(recordType) + " has no field " +
                     std::to_string(entry.first);
            return false;
        }
    }
    // The body ends on a whole word, as the reader's own records do.
    uint32_t length = bodyOffset + ((end - bodyOffset + 1u) & ~1u);
    if (forcedLength >= 0) {
        length = static_cast<uint32_t>(forcedLength);
    }

    std::vector<uint8_t> record(length, 0);
    if (configuration) {
        if (!record.empty()) {
            record[0] = static_cast<uint8_t>(recordType);
        }
    }
    // The body goes last so that a field id in both tables ends with the body's value, as the
    // host keeps the later decoding.
    const std::pair<const TableDef*, uint32_t> passes[] = {{header, 0u}, {body, bodyOffset}};
    for (const auto& pass : passes) {
        if (!pass.first) {
            continue;
        }
        for (const FieldDef& f : pass.first->fields) {
            auto it = all.find(f.id);
            if (it == all.end()) {
                continue;
            }
            if (!WriteField(f, recordType, pass.second, it->second, &record, error)) {
                return false;
            }
        }
    }
    *out = std::move(record);
    return true;
}
