#include "archiver/shell/options_record.h"

#include <gtest/gtest.h>

namespace shell {
namespace {

TEST(OptionRecordTest, Defaults) {
    OptionRecord r = DefaultOptionRecord();
    const struct {
        OptionField field;
        uint32_t value;
    } expect[] = {
        {kOptCompressedSizes, 1}, {kOptSortOrder, 15},   {kOptCompression, 1},
        {kOptSpanning, 0},        {kOptRecurse, 0},      {kOptUseFolderNames, 1},
        {kOptDefaultFormat, 1},   {kOptLogDrive, 'c'},   {kOptViewer, 802},
        {kOptHighColor, 1},       {kOptLargeButtons, 1}, {kOptDpmi, 0},
        {kOptShortNames, 0},
    };
    for (const auto& e : expect) EXPECT_EQ(GetOption(r, e.field), e.value) << e.field.offset;
    // Bytes outside the fields are 0; the 4-byte flags set only their low byte.
    EXPECT_EQ(r[4], 0);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(r[140], 802 >> 8);
    EXPECT_EQ(r[141], 0);
}

TEST(OptionRecordTest, FieldsAreLittleEndianAndStayInTheirWidth) {
    OptionRecord r{};
    SetOption(r, kOptSortOrder, 0x12345);  // 2 bytes wide: the high part is dropped
    EXPECT_EQ(r[8], 0x45);
    EXPECT_EQ(r[9], 0x23);
    EXPECT_EQ(r[10], 0);
    EXPECT_EQ(GetOption(r, kOptSortOrder), 0x2345u);
    SetOption(r, kOptHighColor, 0xA1B2C3D4);  // the last field ends at the record's end
    EXPECT_EQ(r[221], 0xD4);
    EXPECT_EQ(r[224], 0xA1);
    EXPECT_EQ(GetOption(r, kOptHighColor), 0xA1B2C3D4u);
}

TEST(OptionRecordTest, EncodeDecodeBothWays) {
    OptionRecord r = DefaultOptionRecord();
    r[60] = 0xAB;  // a gap byte survives the trip
    SetOption(r, kOptDefaultFormat, 4);
    std::string text = EncodeOptionRecord(r);
    ASSERT_EQ(text.size(), 452u);
    unsigned sum = 0;
    for (uint8_t b : r) sum += b;
    char check[3];
    std::snprintf(check, sizeof check, "%02X", sum & 0xFF);
    EXPECT_EQ(text.substr(450), check);
    EXPECT_EQ(text.substr(0, 4), "0100");
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);  // upper case

    OptionRecord back{};
    ASSERT_TRUE(DecodeOptionRecord(text, back));
    EXPECT_EQ(back, r);
    EXPECT_EQ(EncodeOptionRecord(back), text);

    // Every single changed digit is caught by the check byte or is not hex.
    for (size_t i = 0; i < text.size(); i += 37) {
        std::string bad = text;
        bad[i] = bad[i] == '0' ? '1' : '0';
        OptionRecord untouched = DefaultOptionRecord();
        EXPECT_FALSE(DecodeOptionRecord(bad, untouched)) << i;
        EXPECT_EQ(untouched, DefaultOptionRecord()) << i;
    }
}

TEST(OptionRecordTest, EarlierFormSetsTheFirst119Bytes) {
    OptionRecord old{};
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i + 1);
    std::string text = EncodeOptionRecord(old).substr(0, 240);
    OptionRecord r = DefaultOptionRecord();
    ASSERT_TRUE(DecodeOptionRecord(text, r));
    for (size_t i = 0; i < 119; ++i) EXPECT_EQ(r[i], old[i]) << i;
    OptionRecord defaults = DefaultOptionRecord();
    for (size_t i = 119; i < r.size(); ++i) EXPECT_EQ(r[i], defaults[i]) << i;

    // Any other length is ignored.
    for (size_t len : {0u, 238u, 239u, 241u, 450u, 451u, 453u}) {
        OptionRecord same = defaults;
        EXPECT_FALSE(DecodeOptionRecord(std::string(len, '0'), same)) << len;
    }
}

}  // namespace
}  // namespace shell
