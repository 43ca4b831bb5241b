#include "expected_json.h"

#include "client/device_client.h"
#include "protocol/schema.h"

namespace {

SchemaList SchemaOf(const ByteStrings& schemaTables) {
    SchemaList schema;
    for (const std::vector<uint8_t>& table : schemaTables) {
        schema.emplace_back(table);
    }
    return schema;
}

}  // namespace

QJsonArray ExpectedRecordsJson(const ByteStrings& schemaTables, const ByteStrings& records,
                               bool configuration) {
    const SchemaList schema = SchemaOf(schemaTables);
    QVector<DecodedRecord> decoded;
    for (const std::vector<uint8_t>& record : records) {
        decoded.append(
            DecodedRecord(schema, record.data(), uint32_t(record.size()), configuration));
    }
    return DeviceClient::buildJsonArray(decoded);
}

DeviceClient::RecordsJson ExpectedRecordsText(const ByteStrings& schemaTables,
                                              const ByteStrings& records) {
    const SchemaList schema = SchemaOf(schemaTables);
    DeviceClient::RecordsJson text;
    text.array = "[";
    for (const std::vector<uint8_t>& record : records) {
        DeviceClient::appendRecord(
            text, DecodedRecord(schema, record.data(), uint32_t(record.size()), false));
    }
    text.array.append(']');
    return text;
}
