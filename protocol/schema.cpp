#include "protocol/schema.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/debug_log.h"

namespace {

constexpr uint16_t kTimeConversionFieldId = 1072;
constexpr uint32_t kBytesPerLine = 64;

void LogIfShort(const SchemaTable& table) {
    if (!table.wellFormed()) {
        DebugLog("SchemaTable: a table of %zu bytes has no head\n", table.bytes().size());
    } else if (table.fieldCount() < table.declaredFieldCount()) {
        DebugLog("SchemaTable: table %u declares %u fields but holds %u\n",
                 unsigned(table.recordType()), unsigned(table.declaredFieldCount()),
                 unsigned(table.fieldCount()));
    }
}

// Sets *start to the field's first byte when all width / 8 of its bytes lie in the payload.
bool FieldFits(const DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset,
               size_t* start) {
    const int64_t first = int64_t(baseOffset) + 2 * int64_t(field.wordOffset);
    const int64_t size = field.width / 8;
    if (first < 0 || first + size > int64_t(record.payload.size())) {
        return false;
    }
    *start = size_t(first);
    return true;
}

void Store(DecodedRecord& record, const FieldDescriptor& field, uint32_t value, std::string text) {
    RecordEntry& entry = record.entries[field.id];
    entry.id = field.id;
    entry.type = field.type;
    entry.value = value;
    entry.text = std::move(text);
}

// Returns how many of the table's fields lay beyond the payload.
int DecodeFields(DecodedRecord& record, const SchemaTable& table, int32_t baseOffset) {
    int skipped = 0;
    const uint32_t count = table.fieldCount();
    for (uint32_t i = 0; i < count; ++i) {
        const FieldDescriptor field = table.field(i);
        bool stored;
        switch (field.type) {
            case kFieldText:
                stored = decodeTextField(record, field, baseOffset);
                break;
            case kFieldBytes:
                stored = decodeBytesField(record, field, baseOffset);
                break;
            default:
                stored = decodeNumberField(record, field, baseOffset);
                break;
        }
        skipped += stored ? 0 : 1;
    }
    return skipped;
}

void DecodeRecord(DecodedRecord& record, const SchemaList& schema, int* skipped) {
    if (record.configuration) {
        if (record.payload.empty()) {
            DebugLog("parseRecData: error, empty configuration record\n");
            return;
        }
        record.recType = int8_t(record.payload[0]);
        record.bodyOffset = 1;
    } else {
        const SchemaTable* header = findSchemaTable(schema, kHeaderRecordType);
        if (!header) {
            DebugLog("parseRecData: error, no header table in the schema\n");
            return;
        }
        record.bodyOffset = 2 * int32_t(header->headerWords());
        *skipped += DecodeFields(record, *header, 0);
        const auto recTypeEntry = record.entries.find(kRecTypeFieldId);
        if (recTypeEntry == record.entries.end()) {
            // Without its type the header cannot be told from the body; keep nothing.
            DebugLog("parseRecData: error, record header without field 8\n");
            record.entries.clear();
            return;
        }
        record.recType = int32_t(recTypeEntry->second.value);
    }
    const SchemaTable* table = findSchemaTable(schema, record.recType);
    if (!table) {
        DebugLog("parseRecData: error, invalid recType :%x or missing schema\n",
                 unsigned(record.recType));
        return;
    }
    *skipped += DecodeFields(record, *table, record.bodyOffset);
}

}  // namespace

SchemaTable::SchemaTable(const uint8_t* bytes, size_t length)
    : SchemaTable(std::vector<uint8_t>(bytes, bytes + length)) {}

SchemaTable::SchemaTable(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    LogIfShort(*this);
}

uint16_t SchemaTable::word(size_t offset) const {
    if (!wellFormed()) {
        return 0;
    }
    return uint16_t(bytes_[offset] | bytes_[offset + 1] << 8);
}

uint32_t SchemaTable::fieldCount() const {
    if (!wellFormed()) {
        return 0;
    }
    const size_t held = (bytes_.size() - kSchemaTableHeadSize) / kFieldDescriptorSize;
    return uint32_t(std::min<size_t>(declaredFieldCount(), held));
}

FieldDescriptor SchemaTable::field(uint32_t index) const {
    FieldDescriptor field;
    if (index >= fieldCount()) {
        return field;
    }
    const uint8_t* at = bytes_.data() + kSchemaTableHeadSize + size_t(index) * kFieldDescriptorSize;
    field.id = uint16_t(at[0] | at[1] << 8);
    field.wordOffset = uint16_t(at[2] | at[3] << 8);
    field.bitShift = at[4];
    field.type = at[5];
    field.width = uint16_t(at[6] | at[7] << 8);
    return field;
}

DecodedRecord::DecodedRecord(const SchemaList& schema, const uint8_t* bytes, uint32_t length,
                             bool configuration)
    : payload(bytes, bytes + length), configuration(configuration) {
    parseRecData(*this, schema);
}

void parseRecData(DecodedRecord& record, const SchemaList& schema) {
    record.entries.clear();
    record.recType = kHeaderRecordType;
    record.bodyOffset = 0;
    int skipped = 0;
    DecodeRecord(record, schema, &skipped);
    if (skipped > 0) {
        DebugLog("parseRecData: %d fields of recType %x lie beyond the record's %zu bytes\n",
                 skipped, unsigned(record.recType), record.payload.size());
    }
}

const SchemaTable* findSchemaTable(const SchemaList& schema, int32_t recType) {
    if (recType < 0) {
        return nullptr;
    }
    for (const SchemaTable& table : schema) {
        if (table.wellFormed() && int32_t(table.recordType()) == recType) {
            return &table;
        }
    }
    return nullptr;
}

bool decodeNumberField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset) {
    size_t start;
    if (!FieldFits(record, field, baseOffset, &start)) {
        return false;
    }
    if (field.id == kTimeConversionFieldId) {
        DebugLog("Time Conversion\n");
    }
    // Bytes of the 32-bit word beyond the payload count as 0.
    uint32_t word = 0;
    for (size_t i = 0; i < 4 && start + i < record.payload.size(); ++i) {
        word |= uint32_t(record.payload[start + i]) << (8 * i);
    }
    // Arithmetic shift written out: a shift of 32 or more leaves only copies of the sign bit.
    const uint32_t shift = std::min<uint32_t>(field.bitShift, 31);
    uint32_t value = word >> shift;
    if (word & 0x80000000u) {
        value |= ~(0xFFFFFFFFu >> shift);
    }
    if (field.width < 32) {
        const uint32_t mask = (1u << field.width) - 1;
        value &= mask;
        if (field.type == kFieldSigned && field.width > 0 && (value >> (field.width - 1)) & 1) {
            value |= ~mask;
        }
    }
    Store(record, field, value, std::string());
    return true;
}

bool decodeTextField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset) {
    size_t start;
    if (!FieldFits(record, field, baseOffset, &start)) {
        return false;
    }
    // The text may run past the field's width up to its NUL, but never past the payload.
    const auto first = record.payload.begin() + std::ptrdiff_t(start);
    const auto end = std::find(first, record.payload.end(), uint8_t(0));
    std::string text(first, end);
    text += "\r\n";
    Store(record, field, 0, std::move(text));
    return true;
}

bool decodeBytesField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset) {
    size_t start;
    if (!FieldFits(record, field, baseOffset, &start)) {
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    const uint32_t size = field.width / 8u;
    std::string text;
    text.reserve(size * 3 + (size / kBytesPerLine + 1) * 2);
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t byte = record.payload[start + i];
        text += ' ';
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
        if (i != 0 && i % kBytesPerLine == 0) {
            text += "\r\n";
        }
    }
    text += "\r\n";
    Store(record, field, 0, std::move(text));
    return true;
}
