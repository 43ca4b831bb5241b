// A small, strict JSON reader for scenario files: objects, arrays, strings with escapes, numbers,
// true, false and null; no comments, no trailing commas, no duplicate keys. Every value keeps the
// byte offset where it starts so that later checks can point at the offending text.
//
// Plain value types; no shared state, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Kind : uint8_t { null, boolean, number, string, array, object };

    Kind kind = Kind::null;
    size_t offset = 0;             // byte offset of the value's first character in the source text
    bool boolean = false;          // kind boolean
    double number = 0;             // kind number
    bool isInteger = false;        // number written without fraction or exponent and fits int64
    int64_t integer = 0;           // valid when isInteger
    std::string text;              // kind string, UTF-8
    std::vector<JsonValue> items;  // kind array
    std::vector<std::pair<std::string, JsonValue>> members;  // kind object, in source order

    // Returns the member named key, or null when there is none (or this is not an object).
    const JsonValue* find(const std::string& key) const;
};

// Returns the kind's name as used in error messages ("object", "string", ...).
const char* JsonKindName(JsonValue::Kind kind);

// Parses text as one JSON value. On failure returns false and sets error to
// "<sourceName>: offset N (line L, column C): <what>"; out then holds a partial value.
bool ParseJson(const std::string& text, const std::string& sourceName, JsonValue* out,
               std::string* error);

// Formats "<sourceName>: offset N (line L, column C): <what>" for an offset into text.
std::string JsonErrorAt(const std::string& text, const std::string& sourceName, size_t offset,
                        const std::string& what);
