#include "tools/reader-sim/scenario.h"

#include <fstream>
#include <initializer_list>
#include <sstream>

#include "tools/reader-sim/json_reader.h"

namespace {

using Kind = JsonValue::Kind;

// Turns the JSON document into a Scenario; every failure names the offset of the value at fault.
class ScenarioReader {
public:
    ScenarioReader(const std::string& text, const std::string& source, std::string* error)
        : text_(text), source_(source), error_(error) {}

    bool read(const JsonValue& root, Scenario* s) {
        if (!expectKind(root, Kind::object, "the scenario") ||
            !checkMembers(root,
                          {"identity", "identityClass", "serial", "secondLine", "subjectName",
                           "clock", "schema", "configSchema", "tables", "config"},
                          "the scenario")) {
            return false;
        }
        if (!readText(root, "identity", &s->identity) || !readText(root, "serial", &s->serial) ||
            !readText(root, "secondLine", &s->secondLine) ||
            !readText(root, "subjectName", &s->subjectName)) {
            return false;
        }
        if (s->identity.size() > kMaxIdentityText) {
            return fail(*root.find("identity"), "identity longer than 61 bytes");
        }
        if (const JsonValue* v = root.find("identityClass")) {
            int64_t c = 0;
            if (!readInt(*v, 0, 255, "identityClass", &c)) {
                return false;
            }
            s->identityClass = static_cast<uint8_t>(c);
        }
        if (const JsonValue* v = root.find("clock")) {
            if (!readClock(*v, &s->clock)) {
                return false;
            }
        }
        if (!readSchema(root.find("schema"), &s->schema) ||
            !readSchema(root.find("configSchema"), &s->configSchema)) {
            return false;
        }
        if (const JsonValue* tables = root.find("tables")) {
            if (!expectKind(*tables, Kind::object, "\"tables\"")) {
                return false;
            }
            for (const auto& member : tables->members) {
                uint8_t id = 0;
                if (!readId(member.first, member.second, "table id", &id) ||
                    !readTable(member.second, s->schema, &s->tables[id])) {
                    return false;
                }
            }
        }
        if (const JsonValue* config = root.find("config")) {
            if (!expectKind(*config, Kind::object, "\"config\"")) {
                return false;
            }
            for (const auto& member : config->members) {
                uint8_t id = 0;
                if (!readId(member.first, member.second, "configuration id", &id) ||
                    !readRecord(member.second, s->configSchema, true, &s->configRecords[id])) {
                    return false;
                }
            }
        }
        return true;
    }

private:
    bool fail(const JsonValue& at, const std::string& what) {
        *error_ = JsonErrorAt(text_, source_, at.offset, what);
        return false;
    }

    bool expectKind(const JsonValue& v, Kind kind, const std::string& what) {
        if (v.kind != kind) {
            return fail(v, what + " must be " + (kind == Kind::array ? "an " : "a ") +
                               JsonKindName(kind) + ", not " + JsonKindName(v.kind));
        }
        return true;
    }

    // Unknown members are errors: a misspelt key would otherwise be silently ignored.
    bool checkMembers(const JsonValue& object, std::initializer_list<const char*> allowed,
                      const std::string& what) {
        for (const auto& member : object.members) {
            bool ok = false;
            for (const char* name : allowed) {
                ok = ok || member.first == name;
            }
            if (!ok) {
                return fail(member.second, "unknown member \"" + member.first + "\" in " + what);
            }
        }
        return true;
    }

    bool readInt(const JsonValue& v, int64_t low, int64_t high, const std::string& what,
                 int64_t* out) {
        if (v.kind != Kind::number || !v.isInteger) {
            return fail(v, what + " must be an integer");
        }
        if (v.integer < low || v.integer > high) {
            return fail(v, what + " must be " + std::to_string(low) + ".." + std::to_string(high) +
                               ", not " + std::to_string(v.integer));
        }
        *out = v.integer;
        return true;
    }

    bool readText(const JsonValue& object, const char* key, std::string* out) {
        const JsonValue* v = object.find(key);
        if (!v) {
            return true;
        }
        if (!expectKind(*v, Kind::string, std::string("\"") + key + "\"")) {
            return false;
        }
        *out = v->text;
        return true;
    }

    bool readId(const std::string& key, const JsonValue& at, const char* what, uint8_t* out) {
        if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != key.npos ||
            std::stoi(key) > 255) {
            return fail(at, std::string(what) + " \"" + key + "\" must be a number 0..255");
        }
        *out = static_cast<uint8_t>(std::stoi(key));
        return true;
    }

    bool readHex(const JsonValue& v, std::string* out) {
        if (!expectKind(v, Kind::string, "hex bytes")) {
            return false;
        }
        out->clear();
        int pending = -1;
        for (char c : v.text) {
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
                return fail(v, "hex bytes must be pairs of hex digits, optionally spaced");
            }
            if (pending < 0) {
                pending = digit;
            } else {
                out->push_back(static_cast<char>(pending << 4 | digit));
                pending = -1;
            }
        }
        if (pending >= 0) {
            return fail(v, "hex bytes end with half a byte");
        }
        return true;
    }

    bool readClock(const JsonValue& v, std::array<uint8_t, 8>* clock) {
        if (!expectKind(v, Kind::object, "\"clock\"") ||
            !checkMembers(v, {"second", "minute", "hour", "day", "month", "year", "extra"},
                          "\"clock\"")) {
            return false;
        }
        struct Part {
            const char* key;
            int index;
            int64_t low, high;
        };
        const Part parts[] = {{"second", 0, 0, 59}, {"minute", 1, 0, 59}, {"hour", 2, 0, 23},
                              {"day", 3, 1, 31},    {"month", 4, 1, 12},  {"extra", 7, 0, 255}};
        for (const Part& part : parts) {
            if (const JsonValue* p = v.find(part.key)) {
                int64_t value = 0;
                if (!readInt(*p, part.low, part.high, std::string("clock ") + part.key, &value)) {
                    return false;
                }
                (*clock)[part.index] = static_cast<uint8_t>(value);
            }
        }
        if (const JsonValue* p = v.find("year")) {
            int64_t year = 0;
            if (!readInt(*p, 0, 65535, "clock year", &year)) {
                return false;
            }
            (*clock)[5] = static_cast<uint8_t>(year);
            (*clock)[6] = static_cast<uint8_t>(year >> 8);
        }
        return true;
    }

    bool readSchema(const JsonValue* v, std::vector<TableDef>* out) {
        if (!v) {
            return true;
        }
        if (!expectKind(*v, Kind::array, "a schema")) {
            return false;
        }
        for (const JsonValue& item : v->items) {
            TableDef table;
            if (!readTableDef(item, &table)) {
                return false;
            }
            out->push_back(std::move(table));
        }
        return true;
    }

    bool readTableDef(const JsonValue& v, TableDef* table) {
        if (!expectKind(v, Kind::object, "a schema table") ||
            !checkMembers(v, {"recordType", "headerWords", "fields"}, "a schema table")) {
            return false;
        }
        const JsonValue* type = v.find("recordType");
        if (!type) {
            return fail(v, "a schema table needs \"recordType\"");
        }
        int64_t n = 0;
        if (!readInt(*type, 0, 65535, "recordType", &n)) {
            return false;
        }
        table->recordType = static_cast<uint16_t>(n);
        if (const JsonValue* words = v.find("headerWords")) {
            if (!readInt(*words, 0, 65535, "headerWords", &n)) {
                return false;
            }
            table->headerWords = static_cast<uint16_t>(n);
        }
        const JsonValue* fields = v.find("fields");
        if (!fields) {
            return true;
        }
        if (!expectKind(*fields, Kind::array, "\"fields\"")) {
            return false;
        }
        for (const JsonValue& f : fields->items) {
            if (!expectKind(f, Kind::object, "a field") ||
                !checkMembers(f, {"id", "word", "shift", "type", "width"}, "a field")) {
                return false;
            }
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
            for (int i = 0; i < 5; ++i) {
                const JsonValue* p = f.find(parts[i].key);
                if (!p && parts[i].required) {
                    return fail(f, std::string("a field needs \"") + parts[i].key + "\"");
                }
                if (p && !readInt(*p, 0, parts[i].high, parts[i].key, &values[i])) {
                    return false;
                }
            }
            FieldDef def;
            def.id = static_cast<uint16_t>(values[0]);
            def.word = static_cast<uint16_t>(values[1]);
            def.shift = static_cast<uint8_t>(values[2]);
            def.type = static_cast<uint8_t>(values[3]);
            def.width = static_cast<uint16_t>(values[4]);
            table->fields.push_back(def);
        }
        return true;
    }

    bool readTable(const JsonValue& v, const std::vector<TableDef>& schema, RecordTable* table) {
        if (!expectKind(v, Kind::array, "a table's records")) {
            return false;
        }
        auto records = std::make_shared<std::vector<std::vector<uint8_t>>>();
        for (const JsonValue& item : v.items) {
            records->emplace_back();
            if (!readRecord(item, schema, false, &records->back())) {
                return false;
            }
        }
        table->count = static_cast<uint32_t>(records->size());
        table->record = [records](uint32_t index) { return (*records)[index]; };
        return true;
    }

    // The field a value goes to decides how a string is read: hex for bytes fields, else text.
    static const FieldDef* findField(const std::vector<TableDef>& schema, bool configuration,
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

    bool readRecord(const JsonValue& v, const std::vector<TableDef>& schema, bool configuration,
                    std::vector<uint8_t>* out) {
        if (!expectKind(v, Kind::object, "a record") ||
            !checkMembers(v, {"hex", "recordType", "fields", "length"}, "a record")) {
            return false;
        }
        if (const JsonValue* hex = v.find("hex")) {
            if (v.members.size() != 1) {
                return fail(v, "a record is either {\"hex\": ...} or {\"recordType\": ...}");
            }
            std::string bytes;
            if (!readHex(*hex, &bytes)) {
                return false;
            }
            out->assign(bytes.begin(), bytes.end());
            return true;
        }
        const JsonValue* type = v.find("recordType");
        if (!type) {
            return fail(v, "a record needs \"hex\" or \"recordType\"");
        }
        int64_t recordType = 0;
        if (!readInt(*type, 0, configuration ? 255 : 65535, "recordType", &recordType)) {
            return false;
        }
        int64_t length = -1;
        if (const JsonValue* l = v.find("length")) {
            if (!readInt(*l, 0, 0xFFFFFF, "length", &length)) {
                return false;
            }
        }
        FieldValues values;
        if (const JsonValue* fields = v.find("fields")) {
            if (!expectKind(*fields, Kind::object, "\"fields\"")) {
                return false;
            }
            for (const auto& member : fields->members) {
                const std::string& key = member.first;
                if (key.empty() || key.size() > 5 ||
                    key.find_first_not_of("0123456789") != key.npos || std::stol(key) > 65535) {
                    return fail(member.second, "field id \"" + key + "\" must be 0..65535");
                }
                const uint16_t id = static_cast<uint16_t>(std::stol(key));
                const FieldDef* def =
                    findField(schema, configuration, static_cast<uint16_t>(recordType), id);
                const JsonValue& value = member.second;
                if (value.kind == Kind::number) {
                    if (!value.isInteger) {
                        return fail(value, "field " + key + " must be an integer");
                    }
                    values[id] = FieldValue::Number(value.integer);
                } else if (value.kind == Kind::string) {
                    std::string bytes = value.text;
                    if (def && def->type == kFieldBytes && !readHex(value, &bytes)) {
                        return false;
                    }
                    values[id] = FieldValue::Bytes(std::move(bytes));
                } else {
                    return fail(value, "field " + key + " must be a number or a string");
                }
            }
        }
        std::string error;
        if (!EncodeRecord(schema, configuration, static_cast<uint16_t>(recordType), values, length,
                          out, &error)) {
            return fail(v, error);
        }
        return true;
    }

    const std::string& text_;
    const std::string& source_;
    std::string* error_;
};

}  // namespace

std::shared_ptr<const Scenario> ParseScenario(const std::string& json,
                                              const std::string& sourceName, std::string* error) {
    JsonValue root;
    if (!ParseJson(json, sourceName, &root, error)) {
        return nullptr;
    }
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
    ScenarioReader reader(json, sourceName, error);
    if (!reader.read(root, scenario.get())) {
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
