// The reader's schema tables and the decoding of its records through them. A database record is
// a header (described by the table of record type 255, whose field 8 names the record type)
// followed by a body; a configuration record is its record type in one byte, then the body.
//
// Plain values and functions with no shared state; nothing here takes a lock or throws except
// std::bad_alloc. Every read is bounded by the bytes actually held: schema tables and records
// come from the reader and are not trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/aap_codes.h"

constexpr size_t kSchemaTableHeadSize = 10;
constexpr size_t kFieldDescriptorSize = 8;

struct FieldDescriptor {
    uint16_t id = 0;
    uint16_t wordOffset = 0;  // in 16-bit words from the start of the body (or header)
    uint8_t bitShift = 0;
    uint8_t type = 0;
    uint16_t width = 0;  // in bits; width / 8 is the field's size in bytes
};

// One table as the reader sent it, kept byte for byte. A value; safe to copy.
class SchemaTable {
public:
    // An empty table: not well formed, matches nothing.
    SchemaTable() = default;
    // Copies length bytes. Logs once here, not per record, when the table lacks its head or
    // holds fewer descriptors than it declares.
    SchemaTable(const uint8_t* bytes, size_t length);
    // As above, taking the bytes over.
    explicit SchemaTable(std::vector<uint8_t> bytes);

    // Returns the bytes as received.
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Returns false when the table is shorter than its 10-byte head; such a table matches no
    // record type and has no fields.
    bool wellFormed() const { return bytes_.size() >= kSchemaTableHeadSize; }
    // Returns the record type, 0 for a table that is not well formed.
    uint16_t recordType() const { return word(4); }
    // Returns the header length in 16-bit words (meaningful in table 255 only), 0 if absent.
    uint16_t headerWords() const { return word(6); }
    // Returns the field count the table declares, 0 if absent.
    uint16_t declaredFieldCount() const { return word(8); }
    // Returns the number of descriptors actually held: the declared count, cut to the bytes.
    uint32_t fieldCount() const;
    // Returns descriptor index (below fieldCount()); a zeroed descriptor beyond it.
    FieldDescriptor field(uint32_t index) const;

private:
    uint16_t word(size_t offset) const;

    std::vector<uint8_t> bytes_;
};

using SchemaList = std::vector<SchemaTable>;

struct RecordEntry {
    int32_t id = 0;
    uint32_t type = 0;   // the descriptor's field type
    uint32_t value = 0;  // numeric types
    std::string text;    // types 3 and 4; empty for numbers
};

// One record decoded into entries keyed by field id, ascending. A value; copies carry their
// entries and payload. The schema list is used only while decoding and is not kept.
struct DecodedRecord {
    DecodedRecord() = default;
    // Copies length bytes, sets recType 255 and body offset 0, then runs parseRecData.
    DecodedRecord(const SchemaList& schema, const uint8_t* bytes, uint32_t length,
                  bool configuration);

    std::map<int32_t, RecordEntry> entries;
    std::vector<uint8_t> payload;
    int32_t recType = kHeaderRecordType;
    int32_t bodyOffset = 0;
    bool configuration = false;
};

// Decodes record.payload against schema into record.entries, recType and bodyOffset, replacing
// them; logs why a record is left with fewer or no entries. Reads schema only during the call.
void parseRecData(DecodedRecord& record, const SchemaList& schema);

// Returns the first well-formed table whose record type equals recType, null when none (always
// for a negative recType). The pointer is valid while schema is not changed.
const SchemaTable* findSchemaTable(const SchemaList& schema, int32_t recType);

// Each decodes one field starting baseOffset + 2 * wordOffset bytes into the payload and stores
// its entry, replacing one of the same id. Returns false, storing nothing, when the field's
// width / 8 bytes do not all lie inside the payload.
bool decodeNumberField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset);
bool decodeTextField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset);
bool decodeBytesField(DecodedRecord& record, const FieldDescriptor& field, int32_t baseOffset);
