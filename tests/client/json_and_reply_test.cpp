// The device client's pure parts: records into JSON, the value of a text reply, the clock text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <QJsonDocument>
#include <string>

#include "client/device_client.h"
#include "protocol/schema.h"

namespace {

DecodedRecord Record(std::initializer_list<RecordEntry> entries) {
    DecodedRecord record;
    for (const RecordEntry& entry : entries) {
        record.entries[entry.id] = entry;
    }
    return record;
}

std::string Compact(const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

TEST(DeviceClientJson, EveryKnownTypeBecomesAStringMemberAndOthersAreLeftOut) {
    const DecodedRecord all = Record({
        {0, 0, 0xFFFFFFFF, ""},  // unsigned: the same bits as minus one below
        {1, 1, 7, ""},
        {2, 2, 0xFFFFFFFF, ""},
        {3, 2, 5, ""},
        {10, 10, 24, ""},
        {11, 11, 0x80000000, ""},
        {90, 3, 0, "ABC\r\n"},
        {91, 3, 0, std::string("AB\0CD", 5)},  // text ends at its first NUL
        {92, 3, 0, "\xc3\xa9t\xc3\xa9"},       // UTF-8
        {106, 4, 0, " 01 ab\r\n"},
        {107, 7, 3, ""},
        {108, 255, 3, ""},
    });
    const QJsonArray array = DeviceClient::buildJsonArray({all, Record({{5, 9, 1, ""}})});

    // Members in the order the toolkit keeps them (by key text); a record without members stays.
    EXPECT_EQ(Compact(array),
              "[{\"0\":\"4294967295\",\"1\":\"7\",\"10\":\"24\",\"106\":\" 01 ab\\r\\n\","
              "\"11\":\"2147483648\",\"2\":\"-1\",\"3\":\"5\",\"90\":\"ABC\\r\\n\","
              "\"91\":\"AB\",\"92\":\"\xc3\xa9t\xc3\xa9\"},{}]");
}

TEST(DeviceClientTextReply, ValueIsTheFirstOfExactlyFourPartsWithOkInTheThird) {
    const struct {
        const char* reply;
        const char* value;
    } cases[] = {
        {"X\r\nY\r\nCMD OK\r\n", "X"},
        {"X\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\nCMD Fail!\r\n", ""},
        {"\r\nY\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\nZ\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\ncmd ok\r\n", ""},  // case-sensitive
        {"X\r\nY\r\nCMD OK", ""},      // three parts
        {"A B\r\n\r\nOK\r\n", "A B"},  // an empty second line is still a part
        {"\xe9t\xe9\r\nY\r\nCMD OK\r\n", "\xc3\xa9t\xc3\xa9"},  // Latin-1 in, text out
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceClient::textReplyValue(c.reply).toStdString(), c.value) << c.reply;
    }
}

// A clock in the workstation's daylight-saving gap, or no date at all, used to show as nothing.
TEST(DeviceClientClock, ShowsTheReadersWallClockFieldsWhateverTheLocalZone) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const struct {
        uint8_t fields[7];  // second, minute, hour, day, month, year low, year high
        const char* text;
    } cases[] = {
        {{9, 8, 7, 5, 3, 0xE5, 0x07}, "05 Mar 2021 07:08:09"},
        {{0, 30, 2, 28, 3, 0xE5, 0x07}, "28 Mar 2021 02:30:00"},  // gap in Berlin
        {{0, 0, 0, 31, 2, 0xE5, 0x07}, "2021-02-31 00:00:00"},
        {{61, 0, 25, 0, 13, 0, 0}, "0000-13-00 25:00:61"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceClient::readerClockText(c.fields).toStdString(), c.text);
    }
    unsetenv("TZ");
    tzset();
}

}  // namespace
