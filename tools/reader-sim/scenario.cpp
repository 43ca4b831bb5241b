#include "tools/reader-sim/scenario.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace {

using Json = nlohmann::json;
using Pointer = Json::json_pointer;

// What is wrong with the scenario, and where: the JSON pointer of the value at fault.
struct Fault {
    Pointer at;
    std::string what;
};

[[noreturn]] void Fail(const Pointer& at, const std::string& what) {
    throw Fault{at, what};
}

const Json* Find(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

void ExpectKind(const Json& v, const Pointer& at, Json::value_t kind, const std::string& what) {
    if (v.type() != kind) {
        const bool an = kind == Json::value_t::array || kind == Json::value_t::object;
        Fail(at, what + " must be " + (an ? "an " : "a ") + Json(kind).type_name() + ", not " +
                     v.type_name());
    }
}

// Unknown members are refused: a misspelt key would otherwise be silently ignored.
void ExpectObject(const Json& v, const Pointer& at, const std::string& what,
                  std::initializer_list<const char*> allowed) {
    ExpectKind(v, at, Json::value_t::object, what);
    for (const auto& member : v.items()) {
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&member](const char* name) { return member.key() == name; })) {
            Fail(at / member.key(), "unknown member \"" + member.key() + "\" in " + what);
        }
    }
}

int64_t ReadInt(const Json& v, const Pointer& at, int64_t low, int64_t high,
                const std::string& what) {
    if (!v.is_number_integer()) {
        Fail(at, what + " must be an integer");
    }
    // An unsigned number beyond int64_t lies outside every range asked for here.
    const bool huge =
        v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max());
    const int64_t n = huge ? std::numeric_limits<int64_t>::max() : v.get<int64_t>();
    if (huge || n < low || n > high) {
        Fail(at, what + " must be " + std::to_string(low) + ".." + std::to_string(high) + ", not " +
                     v.dump());
    }
    return n;
}

void ReadText(const Json& object, const Pointer& at, const char* key, std::string* out) {
    if (const Json* v = Find(object, key)) {
        ExpectKind(*v, at / key, Json::value_t::string, std::string("\"") + key + "\"");
        *out = v->get<std::string>();
    }
}

uint8_t ReadId(const std::string& key, const Pointer& at, const char* what) {
    if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != key.npos ||
        std::stoi(key) > 255) {
        Fail(at / key, std::string(what) + " \"" + key + "\" must be a number 0..255");
    }
    return static_cast<uint8_t>(std::stoi(key));
}

std::string ReadHex(const Json& v, const Pointer& at) {
    ExpectKind(v, at, Json::value_t::string, "hex bytes");
    std::string out;
    int pending = -1;
    for (char c : v.get_ref<const std::string&>()) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c == ' ' && pending < 0) {
            continue;
        } else {
            Fail(at, "hex bytes must be pairs of hex digits, optionally spaced");
        }
        if (pending < 0) {
            pending = digit;
        } else {
            out.push_back(static_cast<char>(pending << 4 | digit));
            pending = -1;
        }
    }
    if (pending >= 0) {
        Fail(at, "hex bytes end with half a byte");
    }
    return out;
}

void ReadClock(const Json& v, const Pointer& at, std::array<uint8_t, 8>* clock) {
    ExpectObject(v, at, "\"clock\"", {"second", "minute", "hour", "day", "month", "year", "extra"});
    struct Part {
        const char* key;
        int index;
        int64_t low, high;
    };
    const Part parts[] = {{"second", 0, 0, 59}, {"minute", 1, 0, 59}, {"hour", 2, 0, 23},
                          {"day", 3, 1, 31},    {"month", 4, 1, 12},  {"extra", 7, 0, 255}};
    for (const Part& part : parts) {
        if (const Json* p = Find(v, part.key)) {
            (*clock)[part.index] = static_cast<uint8_t>(
                ReadInt(*p, at / part.key, part.low, part.high, std::string("clock ") + part.key));
        }
    }
    if (const Json* p = Find(v, "year")) {
        const int64_t year = ReadInt(*p, at / "year", 0, 65535, "clock year");
        (*clock)[5] = static_cast<uint8_t>(year);
        (*clock)[6] = static_cast<uint8_t>(year >> 8);
    }
}

TableDef ReadTableDef(const Json& v, const Pointer& at) {
    ExpectObject(v, at, "a schema table", {"recordType", "headerWords", "fields"});
    TableDef table;
    const Json* type = Find(v, "recordType");
    if (!type) {
        Fail(at, "a schema table needs \"recordType\"");
    }
    table.recordType =
        static_cast<uint16_t>(ReadInt(*type, at / "recordType", 0, 65535, "recordType"));
    if (const Json* words = Find(v, "headerWords")) {
        table.headerWords =
            static_cast<uint16_t>(ReadInt(*words, at / "headerWords", 0, 65535, "headerWords"));
    }
    const Json* fields = Find(v, "fields");
    if (!fields) {
        return table;
    }
    ExpectKind(*fields, at / "fields", Json::value_t::array, "\"fields\"");
    for (size_t i = 0; i < fields->size(); ++i) {
        const Json& f = (*fields)[i];
        const Pointer fieldAt = at / "fields" / i;
        ExpectObject(f, fieldAt, "a field", {"id", "word", "shift", "type", "width"});
        struct Part {
            const char* key;
            int64_t high;
            bool required;
        };
        const Part parts[] = {{"id", 65535, true},
                              {"word", 65535, true},
                              {"shift", 255, false},
                              {"type", 255, true},
                              {"width", 65535, true}};
        int64_t values[5] = {};
        for (int p = 0; p < 5; ++p) {
            const Json* value = Find(f, parts[p].key);
            if (!value && parts[p].required) {
                Fail(fieldAt, std::string("a field needs \"") + parts[p].key + "\"");
            }
            if (value) {
                values[p] = ReadInt(*value, fieldAt / parts[p].key, 0, parts[p].high, parts[p].key);
            }
        }
        FieldDef def;
        def.id = static_cast<uint16_t>(values[0]);
        def.word = static_cast<uint16_t>(values[1]);
        def.shift = static_cast<uint8_t>(values[2]);
        def.type = static_cast<uint8_t>(values[3]);
        def.width = static_cast<uint16_t>(values[4]);
        table.fields.push_back(def);
    }
    return table;
}

std::vector<TableDef> ReadSchema(const Json& root, const char* key) {
    std::vector<TableDef> schema;
    if (const Json* v = Find(root, key)) {
        const Pointer at = Pointer() / key;
        ExpectKind(*v, at, Json::value_t::array, "a schema");
        for (size_t i = 0; i < v->size(); ++i) {
            schema.push_back(ReadTableDef((*v)[i], at / i));
        }
    }
    return schema;
}

// The field a value goes to decides how a string is read: hex for bytes fields, else text.
const FieldDef* FindField(const std::vector<TableDef>& schema, bool configuration,
                          uint16_t recordType, uint16_t id) {
    const TableDef* body = FindTable(schema, recordType);
    const TableDef* header = configuration ? nullptr : FindTable(schema, kHeaderRecordType);
    for (const TableDef* t : {body, header}) {
        for (size_t i = 0; t && i < t->fields.size(); ++i) {
            if (t->fields[i].id == id) {
                return &t->fields[i];
            }
        }
    }
    return nullptr;
}

std::vector<uint8_t> ReadRecord(const Json& v, const Pointer& at,
                                const std::vector<TableDef>& schema, bool configuration) {
    ExpectObject(v, at, "a record", {"hex", "recordType", "fields", "length"});
    if (const Json* hex = Find(v, "hex")) {
        if (v.size() != 1) {
            Fail(at, "a record is either {\"hex\": ...} or {\"recordType\": ...}");
        }
        const std::string bytes = ReadHex(*hex, at / "hex");
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }
    const Json* type = Find(v, "recordType");
    if (!type) {
        Fail(at, "a record needs \"hex\" or \"recordType\"");
    }
    const auto recordType = static_cast<uint16_t>(
        ReadInt(*type, at / "recordType", 0, configuration ? 255 : 65535, "recordType"));
    int64_t length = -1;
    if (const Json* l = Find(v, "length")) {
        length = ReadInt(*l, at / "length", 0, 0xFFFFFF, "length");
    }
    FieldValues values;
    if (const Json* fields = Find(v, "fields")) {
        ExpectKind(*fields, at / "fields", Json::value_t::object, "\"fields\"");
        for (const auto& member : fields->items()) {
            const std::string& key = member.key();
            const Pointer valueAt = at / "fields" / key;
            if (key.empty() || key.size() > 5 || key.find_first_not_of("0123456789") != key.npos ||
                std::stol(key) > 65535) {
                Fail(valueAt, "field id \"" + key + "\" must be 0..65535");
            }
            const auto id = static_cast<uint16_t>(std::stol(key));
            const Json& value = member.value();
            if (value.is_number_integer()) {
                values[id] = FieldValue::Number(
                    ReadInt(value, valueAt, std::numeric_limits<int64_t>::min(),
                            std::numeric_limits<int64_t>::max(), "field " + key));
            } else if (value.is_string()) {
                const FieldDef* def = FindField(schema, configuration, recordType, id);
                values[id] =
                    FieldValue::Bytes(def && def->type == kFieldBytes ? ReadHex(value, valueAt)
                                                                      : value.get<std::string>());
            } else if (value.is_number()) {
                Fail(valueAt, "field " + key + " must be an integer");
            } else {
                Fail(valueAt, "field " + key + " must be a number or a string");
            }
        }
    }
    std::vector<uint8_t> out;
    std::string error;
    if (!EncodeRecord(schema, configuration, recordType, values, length, &out, &error)) {
        Fail(at, error);
    }
    return out;
}

RecordTable ReadTable(const Json& v, const Pointer& at, const std::vector<TableDef>& schema) {
    ExpectKind(v, at, Json::value_t::array, "a table's records");
    auto records = std::make_shared<std::vector<std::vector<uint8_t>>>();
    for (size_t i = 0; i < v.size(); ++i) {
        records->push_back(ReadRecord(v[i], at / i, schema, false));
    }
    RecordTable table;
    table.count = static_cast<uint32_t>(records->size());
    table.record = [records](uint32_t index) { return (*records)[index]; };
    return table;
}

void ReadScenario(const Json& root, Scenario* s) {
    const Pointer at;
    ExpectObject(root, at, "the scenario",
                 {"identity", "identityClass", "serial", "secondLine", "subjectName", "clock",
                  "schema", "configSchema", "tables", "config"});
    ReadText(root, at, "identity", &s->identity);
    ReadText(root, at, "serial", &s->serial);
    ReadText(root, at, "secondLine", &s->secondLine);
    ReadText(root, at, "subjectName", &s->subjectName);
    if (s->identity.size() > kMaxIdentityText) {
        Fail(at / "identity", "identity longer than 61 bytes");
    }
    if (const Json* v = Find(root, "identityClass")) {
        s->identityClass =
            static_cast<uint8_t>(ReadInt(*v, at / "identityClass", 0, 255, "identityClass"));
    }
    if (const Json* v = Find(root, "clock")) {
        ReadClock(*v, at / "clock", &s->clock);
    }
    s->schema = ReadSchema(root, "schema");
    s->configSchema = ReadSchema(root, "configSchema");
    if (const Json* tables = Find(root, "tables")) {
        ExpectKind(*tables, at / "tables", Json::value_t::object, "\"tables\"");
        for (const auto& member : tables->items()) {
            const uint8_t id = ReadId(member.key(), at / "tables", "table id");
            s->tables[id] = ReadTable(member.value(), at / "tables" / member.key(), s->schema);
        }
    }
    if (const Json* config = Find(root, "config")) {
        ExpectKind(*config, at / "config", Json::value_t::object, "\"config\"");
        for (const auto& member : config->items()) {
            const uint8_t id = ReadId(member.key(), at / "config", "configuration id");
            s->configRecords[id] =
                ReadRecord(member.value(), at / "config" / member.key(), s->configSchema, true);
        }
    }
}

// The library would keep the last of two members of one name; a scenario with both is refused.
Json ParseStrictly(const std::string& text) {
    std::vector<std::set<std::string>> keys;  // of each object open
    return Json::parse(text, [&keys](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            keys.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
            keys.pop_back();
        } else if (event == Json::parse_event_t::key &&
                   !keys.back().insert(parsed.get<std::string>()).second) {
            Fail(Pointer(), "duplicate member \"" + parsed.get<std::string>() + "\"");
        }
        return true;
    });
}

}  // namespace

std::shared_ptr<const Scenario> ParseScenario(const std::string& json,
                                              const std::string& sourceName, std::string* error) {
    // Texts and clock not given in the file keep the built-in reader's.
    DefaultScenarioParams none;
    none.records = 0;
    none.events = 0;
    auto base = MakeDefaultScenario(none);
    auto scenario = std::make_shared<Scenario>();
    scenario->identity = base->identity;
    scenario->identityClass = base->identityClass;
    scenario->serial = base->serial;
    scenario->secondLine = base->secondLine;
    scenario->subjectName = base->subjectName;
    scenario->clock = base->clock;
    try {
        ReadScenario(ParseStrictly(json), scenario.get());
    } catch (const Fault& fault) {
        const std::string at = fault.at.to_string();
        *error = sourceName + ": " + (at.empty() ? "" : at + ": ") + fault.what;
        return nullptr;
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 7: ..." without its tag.
        const std::string what = e.what();
        const size_t tag = what.find("] ");
        *error = sourceName + ": " + (tag == what.npos ? what : what.substr(tag + 2));
        return nullptr;
    }
    return scenario;
}

std::shared_ptr<const Scenario> LoadScenario(const std::string& nameOrPath,
                                             const DefaultScenarioParams& params,
                                             std::string* error) {
    if (nameOrPath.empty() || nameOrPath == "default") {
        return MakeDefaultScenario(params);
    }
    if (nameOrPath == "worked-example") {
        return ParseScenario(WorkedExampleScenarioJson(), "worked-example", error);
    }
    std::ifstream file(nameOrPath, std::ios::binary);
    if (!file) {
        *error = nameOrPath + ": cannot open";
        return nullptr;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseScenario(text.str(), nameOrPath, error);
}
