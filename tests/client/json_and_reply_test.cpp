// The device client's pure parts: records into JSON, the value of a text reply, the clock text.
#include <gtest/gtest.h>
#include <time.h>

#include <QJsonDocument>
#include <string>

#include "client/device_client.h"
#include "protocol/schema.h"
#include "tests/support/test_platform.h"

namespace {

// The download's end-to-end test covers types 0 to 4, 10 and 11 with ASCII text.
TEST(DeviceClientJson, UnknownTypesAreLeftOutTextIsUtf8AndType11Unsigned) {
    DecodedRecord record;
    record.entries = {{11, {11, 11, 0x80000000, ""}},
                      {92, {92, 3, 0, "\xc3\xa9t\xc3\xa9"}},
                      {107, {107, 7, 3, ""}},
                      {108, {108, 255, 3, ""}}};
    // A record without members stays.
    const QJsonArray array = DeviceClient::buildJsonArray({record, DecodedRecord()});
    EXPECT_EQ(QJsonDocument(array).toJson(QJsonDocument::Compact),
              "[{\"11\":\"2147483648\",\"92\":\"\xc3\xa9t\xc3\xa9\"},{}]");
}

TEST(DeviceClientTextReply, ValueIsTheFirstOfExactlyFourPartsWithOkInTheThird) {
    const struct {
        const char* reply;
        const char* value;
    } cases[] = {
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
    TestSetEnv("TZ", "Europe/Berlin");
    tzset();
    const struct {
        uint8_t fields[7];  // second, minute, hour, day, month, year low, year high
        const char* text;
    } cases[] = {
        {{0, 30, 2, 28, 3, 0xE5, 0x07}, "28 Mar 2021 02:30:00"},  // gap in Berlin
        {{0, 0, 0, 31, 2, 0xE5, 0x07}, "2021-02-31 00:00:00"},
        {{61, 0, 25, 0, 13, 0, 0}, "0000-13-00 25:00:61"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceClient::readerClockText(c.fields).toStdString(), c.text);
    }
    TestUnsetEnv("TZ");
    tzset();
}

}  // namespace
