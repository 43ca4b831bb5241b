#include "tools/reader-sim/json_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Deep enough for any scenario, shallow enough that hostile input cannot exhaust the stack.
constexpr int kMaxDepth = 64;

class Parser {
public:
    Parser(const std::string& text, const std::string& sourceName)
        : text_(text), sourceName_(sourceName) {}

    bool parseDocument(JsonValue* out, std::string* error) {
        skipSpace();
        if (!parseValue(out, 0)) {
            *error = error_;
            return false;
        }
        skipSpace();
        if (pos_ != text_.size()) {
            fail(pos_, "unexpected text after the value");
            *error = error_;
            return false;
        }
        return true;
    }

private:
    bool fail(size_t at, const std::string& what) {
        if (error_.empty()) {
            error_ = JsonErrorAt(text_, sourceName_, at, what);
        }
        return false;
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++pos_;
        }
    }

    bool parseValue(JsonValue* out, int depth) {
        if (depth > kMaxDepth) {
            return fail(pos_, "nesting deeper than 64 levels");
        }
        out->offset = pos_;
        if (atEnd()) {
            return fail(pos_, "unexpected end of input, expected a value");
        }
        const char c = peek();
        if (c == '{') {
            return parseObject(out, depth);
        }
        if (c == '[') {
            return parseArray(out, depth);
        }
        if (c == '"') {
            out->kind = JsonValue::Kind::string;
            return parseString(&out->text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            return parseNumber(out);
        }
        if (matchWord("true")) {
            out->kind = JsonValue::Kind::boolean;
            out->boolean = true;
            return true;
        }
        if (matchWord("false")) {
            out->kind = JsonValue::Kind::boolean;
            return true;
        }
        if (matchWord("null")) {
            out->kind = JsonValue::Kind::null;
            return true;
        }
        return fail(pos_, std::string("unexpected character '") + c + "', expected a value");
    }

    bool matchWord(const char* word) {
        const size_t n = std::strlen(word);
        if (text_.compare(pos_, n, word) != 0) {
            return false;
        }
        pos_ += n;
        return true;
    }

    bool parseObject(JsonValue* out, int depth) {
        out->kind = JsonValue::Kind::object;
        ++pos_;
        skipSpace();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"') {
                return fail(pos_, "expected a member name in double quotes");
            }
            const size_t keyOffset = pos_;
            std::string key;
            if (!parseString(&key)) {
                return false;
            }
            if (out->find(key)) {
                return fail(keyOffset, "duplicate member \"" + key + "\"");
            }
            skipSpace();
            if (peek() != ':') {
                return fail(pos_, "expected ':' after the member name");
            }
            ++pos_;
            skipSpace();
            out->members.emplace_back(std::move(key), JsonValue());
            if (!parseValue(&out->members.back().second, depth + 1)) {
                return false;
            }
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return fail(pos_, "expected ',' or '}' in an object");
        }
    }

    bool parseArray(JsonValue* out, int depth) {
        out->kind = JsonValue::Kind::array;
        ++pos_;
        skipSpace();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            out->items.emplace_back();
            if (!parseValue(&out->items.back(), depth + 1)) {
                return false;
            }
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return fail(pos_, "expected ',' or ']' in an array");
        }
    }

    bool parseHex4(uint32_t* value) {
        if (pos_ + 4 > text_.size()) {
            return fail(pos_, "truncated \\u escape");
        }
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_ + i];
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                v |= static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                v |= static_cast<uint32_t>(c - 'A' + 10);
            } else {
                return fail(pos_ + i, "bad hex digit in \\u escape");
            }
        }
        pos_ += 4;
        *value = v;
        return true;
    }

    static void appendUtf8(std::string* out, uint32_t cp) {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool parseEscape(std::string* out) {
        const size_t at = pos_ - 1;  // the backslash
        if (atEnd()) {
            return fail(at, "unterminated string");
        }
        const char c = text_[pos_++];
        switch (c) {
            case '"':
            case '\\':
            case '/':
                out->push_back(c);
                return true;
            case 'b':
                out->push_back('\b');
                return true;
            case 'f':
                out->push_back('\f');
                return true;
            case 'n':
                out->push_back('\n');
                return true;
            case 'r':
                out->push_back('\r');
                return true;
            case 't':
                out->push_back('\t');
                return true;
            case 'u':
                break;
            default:
                return fail(at, std::string("unknown escape '\\") + c + "'");
        }
        uint32_t cp = 0;
        if (!parseHex4(&cp)) {
            return false;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return fail(at, "unpaired low surrogate in \\u escape");
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (text_.compare(pos_, 2, "\\u") != 0) {
                return fail(at, "high surrogate not followed by a low surrogate");
            }
            pos_ += 2;
            if (!parseHex4(&low)) {
                return false;
            }
            if (low < 0xDC00 || low > 0xDFFF) {
                return fail(at, "high surrogate not followed by a low surrogate");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    bool parseString(std::string* out) {
        const size_t start = pos_;
        ++pos_;  // opening quote
        for (;;) {
            if (atEnd()) {
                return fail(start, "unterminated string");
            }
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return fail(pos_ - 1, "control character in a string (escape it)");
            }
            if (c == '\\') {
                if (!parseEscape(out)) {
                    return false;
                }
                continue;
            }
            out->push_back(c);
        }
    }

    bool parseNumber(JsonValue* out) {
        const size_t start = pos_;
        bool integral = true;
        if (peek() == '-') {
            ++pos_;
        }
        if (peek() == '0') {
            ++pos_;
            if (peek() >= '0' && peek() <= '9') {
                return fail(start, "leading zero in a number");
            }
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') {
                ++pos_;
            }
        } else {
            return fail(start, "expected digits in a number");
        }
        if (peek() == '.') {
            integral = false;
            ++pos_;
            if (!(peek() >= '0' && peek() <= '9')) {
                return fail(pos_, "expected digits after the decimal point");
            }
            while (peek() >= '0' && peek() <= '9') {
                ++pos_;
            }
        }
        if (peek() == 'e' || peek() == 'E') {
            integral = false;
            ++pos_;
            if (peek() == '+' || peek() == '-') {
                ++pos_;
            }
            if (!(peek() >= '0' && peek() <= '9')) {
                return fail(pos_, "expected digits in the exponent");
            }
            while (peek() >= '0' && peek() <= '9') {
                ++pos_;
            }
        }
        const std::string literal = text_.substr(start, pos_ - start);
        out->kind = JsonValue::Kind::number;
        out->number = std::strtod(literal.c_str(), nullptr);
        if (integral) {
            errno = 0;
            const long long v = std::strtoll(literal.c_str(), nullptr, 10);
            if (errno != ERANGE) {
                out->isInteger = true;
                out->integer = v;
            }
        }
        return true;
    }

    const std::string& text_;
    const std::string& sourceName_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

const JsonValue* JsonValue::find(const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) {
            return &member.second;
        }
    }
    return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
        case JsonValue::Kind::null:
            return "null";
        case JsonValue::Kind::boolean:
            return "boolean";
        case JsonValue::Kind::number:
            return "number";
        case JsonValue::Kind::string:
            return "string";
        case JsonValue::Kind::array:
            return "array";
        case JsonValue::Kind::object:
            return "object";
    }
    return "?";
}

std::string JsonErrorAt(const std::string& text, const std::string& sourceName, size_t offset,
                        const std::string& what) {
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return sourceName + ": offset " + std::to_string(offset) + " (line " + std::to_string(line) +
           ", column " + std::to_string(column) + "): " + what;
}

bool ParseJson(const std::string& text, const std::string& sourceName, JsonValue* out,
               std::string* error) {
    *out = JsonValue();
    Parser parser(text, sourceName);
    return parser.parseDocument(out, error);
}
