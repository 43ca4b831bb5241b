// What the device client should return for a scenario's records, decoded from the very bytes the
// simulator sends. Apart from the simulator's headers, whose schema names clash with the
// decoder's.
#pragma once

#include <QJsonArray>

#include <cstdint>
#include <vector>
#include "client/device_client.h"

using ByteStrings = std::vector<std::vector<uint8_t>>;

// records: database records without the answer's leading byte, or whole configuration records.
QJsonArray ExpectedRecordsJson(const ByteStrings& schemaTables, const ByteStrings& records,
                               bool configuration);

// The same database records as the device client's text of them, built record by record.
DeviceClient::RecordsJson ExpectedRecordsText(const ByteStrings& schemaTables,
                                              const ByteStrings& records);
