#include "expected_json.h"

#include "client/device_client.h"
#include "protocol/schema.h"

QJsonArray ExpectedRecordsJson(const ByteStrings& schemaTables, const ByteStrings& records,
                               bool configuration) {
    SchemaList schema;
    for (const std::vector<uint8_t>& table : schemaTables) {
        schema.emplace_back(table);
    }
    QVector<DecodedRecord> decoded;
    for (const std::vector<uint8_t>& record : records) {
        decoded.append(
            DecodedRecord(schema, record.data(), uint32_t(record.size()), configuration));
    }
    return DeviceClient::buildJsonArray(decoded);
}
