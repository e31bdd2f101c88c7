#include "archiver/shell/listing.h"

#include <gtest/gtest.h>

namespace shell {
namespace {

uint32_t Dos(int y, int mo, int d, int h, int mi) {
    return static_cast<uint32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) |
                                 (mi << 5));
}

Listing Make(SortOrder order,
             const std::vector<std::tuple<const char*, uint32_t, uint64_t>>& rows) {
    Listing l;
    l.sort = order;
    std::string error;
    for (const auto& [name, when, size] : rows)
        EXPECT_TRUE(AddRow(l, name, false, when, size, size / 2, 0, error));
    FinishListing(l);
    return l;
}

std::vector<std::string> Names(const Listing& l) {
    std::vector<std::string> out;
    for (size_t i : l.order) out.push_back(l.rows[i].name);
    return out;
}

TEST(ListingTest, RatioIsRoundedAndExactForLargeMembers) {
    EXPECT_EQ(Ratio(20000000, 10000000), 50u);
    EXPECT_EQ(Ratio(1000, 333), 67u);
    EXPECT_EQ(Ratio(3, 2), 33u);
    EXPECT_EQ(Ratio(100, 100), 0u);
    EXPECT_EQ(Ratio(100, 150), 0u);
    EXPECT_EQ(Ratio(0, 0), 0u);
    EXPECT_EQ(Ratio(5000000000ull, 1), 100u);  // past 32 bits
}

TEST(ListingTest, RowsFromNames) {
    SetOwnProgramName("borvan32");
    Listing l;
    std::string error;
    EXPECT_TRUE(AddRow(l, "dir\\sub\\File.TXT", true, 0, 10, 5, 7, error));
    EXPECT_TRUE(AddRow(l, "folder/", false, 0, 0, 0, 0, error));  // folder entries: no row
    EXPECT_TRUE(AddRow(l, "BORVAN32.EXE", false, 0, 1, 1, 0, error));
    EXPECT_FALSE(AddRow(l, std::string(261, 'n'), false, 0, 1, 1, 0, error));
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(l.rows[0].name, "dir/sub/File.TXT");
    EXPECT_EQ(NameText(l.rows[0]), "File.TXT+");
    EXPECT_EQ(PathText(l.rows[0]), "dir/sub");
    EXPECT_EQ(l.rows[0].type_class, kTypeDocument);
    EXPECT_EQ(l.rows[1].type_class, kTypeProgram);
    EXPECT_TRUE(l.has_program_copy);
    EXPECT_FALSE(l.long_names);
    // The row keeps the name; its columns show control characters spelt out, on one line.
    Listing c;
    EXPECT_TRUE(AddRow(c, "d\te\nf/g\nh\x1b.txt", true, 0, 1, 1, 0, error));
    EXPECT_EQ(c.rows[0].name, "d\te\nf/g\nh\x1b.txt");
    EXPECT_EQ(NameText(c.rows[0]), "g^Jh^[.txt+");
    EXPECT_EQ(PathText(c.rows[0]), "d^Ie^Jf");
    EXPECT_TRUE(AddRow(l, "a long name.html", false, 0, kUnknownSize, 1, 0, error));
    EXPECT_TRUE(l.long_names);
    EXPECT_EQ(l.total_uncompressed, kUnknownSize);
    FinishListing(l);
    EXPECT_EQ(LookUpRow(l, "DIR/SUB/file.txt", 0), 5u);
    EXPECT_EQ(LookUpRow(l, "dir/sub/file.txt", 1), 7u);
    EXPECT_EQ(LookUpRow(l, "nothing", 0), 0u);
}

TEST(ListingTest, SortOrdersWithTieBreakers) {
    uint32_t d1 = Dos(2020, 1, 1, 0, 0), d2 = Dos(2021, 1, 1, 0, 0);
    auto rows = std::vector<std::tuple<const char*, uint32_t, uint64_t>>{{"z/b.txt", d1, 10},
                                                                         {"a/b.txt", d1, 30},
                                                                         {"b.doc", d2, 20},
                                                                         {"a/a.zip", d1, 30},
                                                                         {"b.txt", d1, 5}};
    EXPECT_EQ(Names(Make(SortOrder::kOriginal, rows)),
              (std::vector<std::string>{"z/b.txt", "a/b.txt", "b.doc", "a/a.zip", "b.txt"}));
    // Newest first, then name, then extension, then folder.
    EXPECT_EQ(Names(Make(SortOrder::kDate, rows)),
              (std::vector<std::string>{"b.doc", "a/a.zip", "b.txt", "a/b.txt", "z/b.txt"}));
    EXPECT_EQ(Names(Make(SortOrder::kSize, rows)),
              (std::vector<std::string>{"a/a.zip", "a/b.txt", "b.doc", "z/b.txt", "b.txt"}));
    EXPECT_EQ(Names(Make(SortOrder::kType, rows)),
              (std::vector<std::string>{"b.doc", "b.txt", "a/b.txt", "z/b.txt", "a/a.zip"}));
    EXPECT_EQ(Names(Make(SortOrder::kPath, rows)),
              (std::vector<std::string>{"b.doc", "b.txt", "a/a.zip", "a/b.txt", "z/b.txt"}));
    SortOrder o;
    EXPECT_TRUE(ParseSortOrder("packed", o));
    EXPECT_EQ(o, SortOrder::kPacked);
    EXPECT_FALSE(ParseSortOrder("Name", o));
}

TEST(ListingTest, NameLimitCountsCharacters) {
    std::string accented;
    for (int i = 0; i < 150; ++i) accented += "\u00e9";  // 300 bytes, 150 characters
    std::string cjk260;
    for (int i = 0; i < 260; ++i) cjk260 += "\u65e5";
    const struct {
        std::string name;
        bool fits;
    } cases[] = {
        {accented, true},
        {cjk260, true},
        {cjk260 + "x", false},
        {std::string(260, 'a'), true},
        {std::string(261, 'a'), false},
    };
    for (const auto& c : cases) {
        Listing l;
        std::string error;
        EXPECT_EQ(AddRow(l, c.name, false, 0, 1, 1, 0, error), c.fits) << c.name.size();
    }
}

TEST(ListingTest, NonAsciiNamesSortIgnoringCase) {
    EXPECT_EQ(UpperSortName("caf\u00e9/\u00e9t\u00e9.txt"), "CAF\u00c9/\u00c9T\u00c9.TXT");
    EXPECT_EQ(UpperSortName("\u0444\u0430\u0439\u043b"), "\u0424\u0410\u0419\u041b");
    EXPECT_EQ(UpperSortName("bad\xff\xc3"), "BAD\xff\xc3");  // invalid bytes kept
    auto rows = std::vector<std::tuple<const char*, uint32_t, uint64_t>>{
        {"\u00c9t\u00e9.txt", 0, 1},  // Été
        {"\u00e9t\u00e9.doc", 0, 1},  // été
        {"\u00e9cole/b.txt", 0, 1},   // école/
        {"\u00c9COLE/a.txt", 0, 1},   // ÉCOLE/
        {"zebra.txt", 0, 1}};
    // Name order (base names): É and é are one letter, so the extension breaks the tie.
    EXPECT_EQ(Names(Make(SortOrder::kName, rows)),
              (std::vector<std::string>{"\u00c9COLE/a.txt", "\u00e9cole/b.txt", "zebra.txt",
                                        "\u00e9t\u00e9.doc", "\u00c9t\u00e9.txt"}));
    // Path order: the two spellings of one folder sit together, names ordering within it.
    EXPECT_EQ(Names(Make(SortOrder::kPath, rows)),
              (std::vector<std::string>{"zebra.txt", "\u00e9t\u00e9.doc", "\u00c9t\u00e9.txt",
                                        "\u00c9COLE/a.txt", "\u00e9cole/b.txt"}));
}

TEST(ListingTest, ProgramCopyFollowsTheProgramsOwnName) {
    const struct {
        const char* program;
        const char* member;
        bool copy;
    } cases[] = {
        {"borvan32", "BORVAN32.EXE", true},
        {"borvan32", "sub/borvanXX.exe", true},
        {"borvan32", "borvan32.txt", false},
        {"borvan32", "borva.exe", false},
        {"arcman", "ARCMAN.EX_", true},
        {"arcman", "borvan32.exe", false},
        {"ab", "AB.EXE", true},
        {"arcman", "Setup.BV", true},
    };
    for (const auto& c : cases) {
        SetOwnProgramName(c.program);
        Listing l;
        std::string error;
        ASSERT_TRUE(AddRow(l, c.member, false, 0, 1, 1, 0, error));
        EXPECT_EQ(l.has_program_copy, c.copy) << c.program << " " << c.member;
    }
    SetOwnProgramName("");  // back to the real name
    EXPECT_EQ(OwnProgramName(), "archiver_shell_test");
}

TEST(ListingTest, ColumnAndStatusTexts) {
    uint32_t when = Dos(2021, 3, 4, 5, 6);
    EXPECT_EQ(DateText(when), "03/04/21");
    IntlFormat dmy;
    dmy.date_order = "dmy";
    dmy.date_sep = '.';
    dmy.time_sep = '.';
    dmy.thousand_sep = ' ';
    EXPECT_EQ(DateText(when, dmy), "04.03.21");
    EXPECT_EQ(DateText(Dos(1999, 12, 31, 0, 0)), "12/31/99");
    EXPECT_EQ(DateText(Dos(2107, 1, 1, 0, 0)), "bad date");
    EXPECT_EQ(TimeText(when), "05:06");
    EXPECT_EQ(TimeText(when, dmy), "05.06");
    EXPECT_EQ(SizeText(1234567), "1,234,567");
    EXPECT_EQ(SizeText(1234567, dmy), "1 234 567");
    EXPECT_EQ(SizeText(999), "999");
    EXPECT_EQ(SizeText(kUnknownSize), "?");

    Listing one = Make(SortOrder::kOriginal, {{"a", 0, 5}});
    EXPECT_EQ(TotalText(one), "Total 1 file, 5 bytes");
    Listing two = Make(SortOrder::kOriginal, {{"a", 0, 1024}, {"b", 0, 1}});
    EXPECT_EQ(TotalText(two), "Total 2 files, 2KB");
    EXPECT_EQ(SelectedText(0, 0), "Selected 0 files, 0 bytes");
    EXPECT_EQ(SelectedText(3, 1024 * 1024 * 5), "Selected 3 files, 5,120KB");
    EXPECT_EQ(RatioText(two.rows[0]), "50%");
}

}  // namespace
}  // namespace shell
