// The numbers of the reader's application protocol that both ends agree on: message types, the
// tables and configuration record a download asks for, and the schema's record and field types.
// The host, the simulator and the tools name them from here only.
#pragma once

#include <cstdint>

// Message types. A request and its answers share one type; every request is followed by an
// empty kAAPEndOfRequest.
enum AAPMessageType : uint16_t {
    kAAPRecord = 49,         // one database record per answer; request payload: the table id
    kAAPSchema = 52,         // one database schema table per answer
    kAAPDateTime = 65,       // the reader's clock
    kAAPConfig = 81,         // one configuration record; request payload: the configuration id
    kAAPConfigSchema = 84,   // one configuration schema table per answer
    kAAPEndOfRequest = 125,  // sent after every request, never answered
    kAAPError = 126,         // AAP_Error: the reader failed to carry out a request
};

// What a download asks for: two database tables and one configuration record.
enum AAPTableId : uint8_t {
    kAAPRecordsTable = 6,
    kAAPEventsTable = 7,
};
constexpr uint8_t kAAPCalibrationConfig = 1;

// The schema table of this record type describes the header of every database record; the
// header's field kRecTypeFieldId holds the record's own type.
constexpr uint16_t kHeaderRecordType = 255;
constexpr uint16_t kRecTypeFieldId = 8;

// Field types of a field descriptor. The four unsigned types are told apart by the reader only;
// they decode alike. Any other type decodes as an unsigned number and is left out of exports.
enum AAPFieldType : uint8_t {
    kFieldUnsigned0 = 0,
    kFieldUnsigned1 = 1,
    kFieldSigned = 2,  // sign-extended from the field's top bit
    kFieldText = 3,    // NUL-terminated text
    kFieldBytes = 4,   // raw bytes
    kFieldUnsigned10 = 10,
    kFieldUnsigned11 = 11,
};
