// The reader's description of its record layouts and the encoding of records through it: the
// byte form of a schema table as the reader sends it, and field values packed into record bytes
// the way the host will unpack them.
//
// Plain functions and value types; safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/aap_codes.h"

struct FieldDef {
    uint16_t id = 0;
    uint16_t word = 0;  // offset in 16-bit words from the start of the body (or header)
    uint8_t shift = 0;
    uint8_t type = 0;
    uint16_t width = 0;  // bits; width / 8 is the field's size in bytes
};

struct TableDef {
    uint16_t recordType = 0;
    uint16_t headerWords = 0;  // meaningful in the header table only
    std::vector<FieldDef> fields;
};

// One field's value: a number for numeric types, text for type 3, raw bytes for type 4.
struct FieldValue {
    bool isNumber = true;
    int64_t number = 0;
    std::string bytes;

    static FieldValue Number(int64_t v) { return FieldValue{true, v, {}}; }
    static FieldValue Bytes(std::string b) { return FieldValue{false, 0, std::move(b)}; }
};

using FieldValues = std::map<uint16_t, FieldValue>;

// Returns the table's bytes: two zero words, record type, header words, field count, then
// eight bytes per field, all little-endian.
std::vector<uint8_t> EncodeSchemaTable(const TableDef& table);

// Returns the first table with the record type, or null.
const TableDef* FindTable(const std::vector<TableDef>& schema, uint16_t recordType);

// Encodes a record of recordType from values. A database record is the header (table 255, its
// field 8, when it has one, set to recordType) followed by the body; a configuration record is
// recordType as one byte followed by the body. Fields without a value are zero. The length covers
// every field of both tables, the body rounded up to whole 16-bit words, unless forcedLength is not
// negative. Returns false with a message when a table is missing, a value has the wrong kind, does
// not fit its field, or names a field neither table has.
bool EncodeRecord(const std::vector<TableDef>& schema, bool configuration, uint16_t recordType,
                  const FieldValues& values, int64_t forcedLength, std::vector<uint8_t>* out,
                  std::string* error);
