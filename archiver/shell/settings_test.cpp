#include "archiver/shell/settings.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace shell {
namespace {

std::string Encode(const OptionRecord& r, int check_delta = 0) {
    std::string out;
    unsigned sum = 0;
    char buf[3];
    for (uint8_t b : r) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (sum + static_cast<unsigned>(check_delta)) & 0xFF);
    return out + buf;
}

OptionRecord WithKind(uint8_t kind) {
    OptionRecord r{};
    r[0] = 1;
    r[kOptDefaultKind] = kind;
    return r;
}

TEST(SettingsTest, OptionRecordDecoding) {
    OptionRecord lzh = WithKind(2);
    std::string good = Encode(lzh);
    std::string lower = good;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string flipped = good;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    std::string earlier = good.substr(0, 240);
    const struct {
        const char* what;
        std::string text;
        bool ok;
        uint8_t kind;
    } cases[] = {
        {"as written", good, true, 2},
        {"lower case", lower, true, 2},
        {"one digit changed", flipped, false, 9},
        {"bad check byte", Encode(lzh, 1), false, 9},
        {"text after the check byte", good + "0", false, 9},
        {"not hex", std::string(452, 'G'), false, 9},
        {"earlier form", earlier, true, 2},
        {"empty", "", false, 9},
    };
    for (const auto& c : cases) {
        OptionRecord r{};
        r[kOptDefaultKind] = 9;
        r[200] = 7;
        EXPECT_EQ(DecodeOptionRecord(c.text, r), c.ok) << c.what;
        EXPECT_EQ(r[kOptDefaultKind], c.kind) << c.what;
        // The earlier form sets the first 119 bytes only.
        EXPECT_EQ(r[200], c.ok && c.text.size() != 240 ? 0 : 7) << c.what;
    }
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/settings_testXXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/borvan32.ini";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    void Write(const std::string& text) { std::ofstream(path_) << text; }
    std::string dir_, path_;
};

TEST_F(SettingsFileTest, DefaultKindComesFromTheOptionRecord) {
    const struct {
        std::string file;
        formats::ArchiveKind kind;
    } cases[] = {
        {"", formats::kKindUnknown},
        {"[Borvan]\nOpts=" + Encode(WithKind(3)) + "\n", formats::kKindArj},
        {"[Borvan]\nOpts=" + Encode(WithKind(1)) + "\n", formats::kKindZip},
        {"[Borvan]\nOpts=" + Encode(WithKind(0)) + "\n", formats::kKindUnknown},
        {"[Borvan]\nOpts=" + Encode(WithKind(42)) + "\n", formats::kKindUnknown},
        {"[Borvan]\nOpts=" + Encode(WithKind(3), 1) + "\n", formats::kKindUnknown},
    };
    for (const auto& c : cases) {
        Write(c.file);
        EXPECT_EQ(DefaultArchiveKind(path_), c.kind) << c.file;
    }
}

TEST(SettingsTest, LocaleFormats) {
    const struct {
        const char* d_fmt;
        const char* t_fmt;
        const char* thousands;
        const char* order;
        char date_sep;
        char time_sep;
        const char* thousand_sep;
    } cases[] = {
        {"%m/%d/%y", "%H:%M:%S", "", "mdy", '/', ':', ","},  // C
        {"%d.%m.%Y", "%T", ".", "dmy", '.', ':', "."},       // de_DE
        {"%d/%m/%y", "%T", ",", "dmy", '/', ':', ","},       // en_GB
        {"%Y-%m-%d", "%H.%M.%S", "\u202f", "ymd", '-', '.', "\u202f"},
        {"%F", "%r", "", "ymd", '-', ':', ","},
        {"%D", "%H:%M", "'", "mdy", '/', ':', "'"},
        {"%Y\u5e74%m\u6708%d\u65e5", "%H\u6642%M\u5206", "", "ymd", '/', ':', ","},
        {"%e %b %Y", "%-H:%M", "", "dmy", '/', ':', ","},  // a blank is no separator
        {"", "", "", "mdy", '/', ':', ","},
    };
    for (const auto& c : cases) {
        IntlFormat f = IntlFromLocale(c.d_fmt, c.t_fmt, c.thousands);
        EXPECT_EQ(f.date_order, c.order) << c.d_fmt;
        EXPECT_EQ(f.date_sep, c.date_sep) << c.d_fmt;
        EXPECT_EQ(f.time_sep, c.time_sep) << c.t_fmt;
        EXPECT_EQ(f.thousand_sep, c.thousand_sep) << c.thousands;
    }
}

TEST_F(SettingsFileTest, IntlSectionOverridesTheLocale) {
    Write("[Intl]\nsShortDate=dd.MM.yyyy\nsDate=.\nsTime=h\nsThousand=_\n");
    IntlFormat f = LoadIntlFormat(path_);
    EXPECT_EQ(f.date_order, "dmy");
    EXPECT_EQ(f.date_sep, '.');
    EXPECT_EQ(f.time_sep, 'h');
    EXPECT_EQ(f.thousand_sep, "_");
    Write("[Intl]\nsShortDate=yy/MM\n");  // no day: the default order
    EXPECT_EQ(LoadIntlFormat(path_).date_order, "mdy");
}

}  // namespace
}  // namespace shell
