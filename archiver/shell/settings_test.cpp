#include "archiver/shell/settings.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

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

class SettingsSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/settings_saveXXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/cfg/borvan32/borvan32.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void Write(const std::string& text) {
        std::filesystem::create_directories(dir_ + "/cfg/borvan32");
        std::ofstream(path_) << text;
    }
    std::string Read() {
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string dir_, path_;
};

TEST_F(SettingsSaveTest, MissingFileGivesEveryDefault) {
    Settings s = LoadSettings(path_);
    EXPECT_EQ(s.opts, DefaultOptionRecord());
    EXPECT_FALSE(s.opts_present);
    EXPECT_EQ(s.save_settings, 1);
    EXPECT_EQ(s.check_out_icon_only, 1);
    EXPECT_EQ(s.face_weight, 400);
    EXPECT_EQ(s.search_max_drive, 26);
    EXPECT_EQ(s.wiz_auto_add_dir, 8120);
    EXPECT_EQ(s.zip_temp_removable_only, 1);
    EXPECT_EQ(s.password_mask, 1);
    EXPECT_TRUE(s.recent_archives.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/cfg"));  // reading creates nothing
}

TEST_F(SettingsSaveTest, KeysAfterOptsAreReadOnlyWithIt) {
    OptionRecord r = DefaultOptionRecord();
    SetOption(r, kOptSortOrder, 3);
    const std::string tail =
        "CheckOutIconOnly=0\nAlwaysOnTop=1\nDisplay=80,24\nMain=1,2,3,4,5\nView=5,6,7,8,9\n"
        "SaveSettings=0\nnewinstance=1\nPasswordMask=0\n[Programs]\nvviewer=less\n"
        "[directories]\nExtractTo=/x\ngzExtractTo=1\n[fm]\nplacement=AB\n"
        "[filemenu]\nfilemenu1=/a.zip\nfilemenu2=/b.zip\nfilemenu4=/d.zip\n"
        "[WizDir]\nWizDir1=/fav\n";
    Write("[Borvan]\n" + tail);
    Settings s = LoadSettings(path_, 80, 24);
    // Without "Opts" those keys keep their defaults; the others are read.
    EXPECT_EQ(s.check_out_icon_only, 1);
    EXPECT_EQ(s.always_on_top, 0);
    EXPECT_EQ(s.vviewer, "");
    EXPECT_EQ(s.main_placement, "");
    EXPECT_EQ(s.fm_placement, "");
    EXPECT_EQ(s.save_settings, 0);
    EXPECT_EQ(s.newinstance, "1");
    EXPECT_EQ(s.password_mask, 0);
    EXPECT_EQ(s.extract_to, "/x");
    EXPECT_EQ(s.use_extract_to, 1);
    EXPECT_EQ(s.recent_archives, (std::vector<std::string>{"/a.zip", "/b.zip"}));
    EXPECT_EQ(s.favorite_folders, (std::vector<std::string>{"/fav"}));

    Write("[Borvan]\nOpts=" + EncodeOptionRecord(r) + "\n" + tail);
    s = LoadSettings(path_, 80, 24);
    EXPECT_TRUE(s.opts_present);
    EXPECT_EQ(GetOption(s.opts, kOptSortOrder), 3u);
    EXPECT_EQ(s.check_out_icon_only, 0);
    EXPECT_EQ(s.always_on_top, 1);
    EXPECT_EQ(s.vviewer, "less");
    EXPECT_EQ(s.main_placement, "1,2,3,4,5");
    EXPECT_EQ(s.view_placement, "5,6,7,8,9");
    EXPECT_EQ(s.fm_placement, "AB");

    // Another screen size: the placements are not taken.
    s = LoadSettings(path_, 132, 43);
    EXPECT_EQ(s.main_placement, "");
    EXPECT_EQ(s.view_placement, "");
    EXPECT_EQ(s.fm_placement, "");

    // A corrupt record keeps the defaults, without refusing the rest.
    std::string bad = EncodeOptionRecord(r);
    bad[20] = bad[20] == 'A' ? 'B' : 'A';
    Write("[Borvan]\nOpts=" + bad + "\n" + tail);
    s = LoadSettings(path_, 80, 24);
    EXPECT_EQ(s.opts, DefaultOptionRecord());
    EXPECT_EQ(s.always_on_top, 1);
}

TEST_F(SettingsSaveTest, SaveKeepsWhatItDoesNotOwnAndReadsBack) {
    Write("; my notes\n[Borvan]\nOleDragDrop=0\nMine=keep me\n\n[Other]\nx=1\n");
    Settings s = LoadSettings(path_);
    SetOption(s.opts, kOptRecurse, 1);
    s.always_on_top = 1;
    s.add_dir = "/data";
    s.recent_archives = {"/r1.zip", "", "/r2.zip"};
    s.main_placement = "0,0,10,10,1";
    ASSERT_TRUE(SaveSettings(s, path_, 100, 30));
    std::string text = Read();
    for (const char* kept : {"; my notes", "Mine=keep me", "[Other]", "x=1", "OleDragDrop=0"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
    EXPECT_NE(text.find("Display=100,30"), std::string::npos);
    EXPECT_NE(text.find("ReuseWindows=0"), std::string::npos);

    Settings back = LoadSettings(path_, 100, 30);
    EXPECT_EQ(back.opts, s.opts);
    EXPECT_EQ(back.always_on_top, 1);
    EXPECT_EQ(back.add_dir, "/data");
    EXPECT_EQ(back.ole_drag_drop, 0);
    EXPECT_EQ(back.recent_archives, (std::vector<std::string>{"/r1.zip", "/r2.zip"}));
    EXPECT_EQ(back.main_placement, "0,0,10,10,1");
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_ + "/cfg/borvan32")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(SettingsSaveTest, ExitSaveFollowsSaveSettings) {
    Write("[Borvan]\nSaveSettings=0\n");
    Settings s = LoadSettings(path_);
    s.always_on_top = 1;
    EXPECT_TRUE(SaveSettingsOnExit(s, path_));
    EXPECT_EQ(Read(), "[Borvan]\nSaveSettings=0\n");
    s.save_settings = 1;
    EXPECT_TRUE(SaveSettingsOnExit(s, path_));
    EXPECT_EQ(LoadSettings(path_).save_settings, 0);  // only its own command writes it
    EXPECT_NE(Read().find("AlwaysOnTop=1"), std::string::npos);
}

TEST_F(SettingsSaveTest, FirstWriteMakesAPrivateFolder) {
    ASSERT_TRUE(WriteSetting(path_, "Borvan", "SaveSettings", "0"));
    struct stat st {};
    ASSERT_EQ(::stat((dir_ + "/cfg/borvan32").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(LoadSettings(path_).save_settings, 0);
    // A list written empty goes away whole.
    ASSERT_TRUE(WriteSettingList(path_, "filemenu", "filemenu", {"/a.zip"}));
    EXPECT_NE(Read().find("filemenu1=/a.zip"), std::string::npos);
    ASSERT_TRUE(WriteSettingList(path_, "filemenu", "filemenu", {}));
    EXPECT_EQ(Read().find("filemenu"), std::string::npos);
}

}  // namespace
}  // namespace shell
