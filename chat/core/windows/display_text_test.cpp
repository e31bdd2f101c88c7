#include "chat/core/windows/display_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <utility>

namespace chat {
namespace {

class DisplayTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
    }
};

TEST_F(DisplayTextTest, RemovesFormattingAndControlCodes) {
    EXPECT_EQ(DisplayText("\x02"
                          "bold\x02 \x03"
                          "4,12red\x03 \x1fu\x0f"),
              "bold red u");
    EXPECT_EQ(DisplayText("\x03"
                          "12,x"),
              ",x");  // a comma not followed by a digit stays
    EXPECT_EQ(DisplayText("a\tb\x07\x1b[31mc\x7f"), "a b[31mc");
    EXPECT_EQ(DisplayText("\x01"
                          "ACTION waves\x01"),
              "ACTION waves");
}

TEST_F(DisplayTextTest, InvalidUtf8IsReadAsWindows1252) {
    EXPECT_EQ(DisplayText("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(DisplayText("caf\xe9"), "caf\xc3\xa9");
    EXPECT_EQ(DisplayText("\x93q\x94"), "\xe2\x80\x9cq\xe2\x80\x9d");
}

TEST_F(DisplayTextTest, WrapsAtLastBlankOfFinalQuarterElseHard) {
    auto lines = WrapText("aaaaaaaaaaaaaaaa bbb cccc", 20, 0, false);
    EXPECT_EQ(lines, (std::vector<std::string>{"aaaaaaaaaaaaaaaa", "bbb cccc"}));
    lines = WrapText("aaaaaaaaaaaaaaaaa bbbbbbbbbb", 20, 0, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "aaaaaaaaaaaaaaaaa");  // blank at 17 lies in the last quarter
    EXPECT_EQ(lines[1], "bbbbbbbbbb");
    lines = WrapText("aaaa bbbbbbbbbbbbbbbbbbbbbbbb", 20, 0, false);
    EXPECT_EQ(lines[0], "aaaa bbbbbbbbbbbbbbb");  // blank too early: hard break
    EXPECT_EQ(WrapText(std::string(45, 'x'), 20, 0, false).size(), 3u);
}

TEST_F(DisplayTextTest, ContinuationIndentIsCappedAndWideCharactersStayWhole) {
    auto lines = WrapText(std::string(60, 'x'), 40, 30, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], std::string(25, ' ') + std::string(20, 'x'));
    // Five wide characters (2 columns each) in a limit of 5 columns: two per line.
    std::string wide;
    for (int i = 0; i < 5; ++i) wide += "\xe6\x97\xa5";
    EXPECT_EQ(DisplayColumns(wide), 10);
    lines = WrapText(wide, 5, 0, false);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "\xe6\x97\xa5\xe6\x97\xa5");
    // A single character wider than the limit still makes progress.
    EXPECT_EQ(WrapText(wide, 1, 0, false).size(), 5u);
}

// The wrapping rule walked one character at a time, to check the fast paths against.
std::vector<std::string> ReferenceWrap(const std::vector<std::pair<std::string, int>>& chars,
                                       int limit, int indent, bool indent_counts) {
    indent = std::clamp(indent, 0, 25);
    std::vector<std::string> lines;
    size_t pos = 0;
    bool first = true;
    while (pos < chars.size()) {
        int room = std::max(limit - ((!first && indent_counts) ? indent : 0), 1);
        size_t count = 0;
        int cols = 0;
        while (pos + count < chars.size() &&
               (count == 0 || cols + chars[pos + count].second <= room)) {
            cols += chars[pos + count].second;
            ++count;
        }
        size_t take = count, skip = count;
        if (pos + count < chars.size()) {
            for (size_t b = count; b-- > 0;) {
                if (chars[pos + b].first != " ") continue;
                if (b > 0 && b >= count * 3 / 4) take = b, skip = b + 1;
                break;
            }
        }
        std::string line(first ? 0 : static_cast<size_t>(indent), ' ');
        for (size_t i = 0; i < take; ++i) line += chars[pos + i].first;
        lines.push_back(line);
        pos += skip;
        first = false;
    }
    return lines;
}

TEST_F(DisplayTextTest, WrappingAgreesWithTheCharacterByCharacterRule) {
    // ASCII, a two-byte letter, a wide character and a combining mark (no columns).
    const std::pair<std::string, int> alphabet[] = {
        {"a", 1},       {"b", 1}, {" ", 1}, {" ", 1}, {"\xc3\xa9", 1}, {"\xe6\x97\xa5", 2},
        {"\xcc\x81", 0}};
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::pair<std::string, int>> chars;
        std::string text;
        bool ascii_only = round % 2 == 0;
        bool wide_window = round % 3 == 2;  // long lines with many short runs of each kind
        size_t length = next() % (wide_window ? 400 : 120);
        for (size_t i = 0; i < length; ++i) {
            const auto& c = alphabet[next() % (ascii_only ? 4 : 7)];
            chars.push_back(c);
            text += c.first;
        }
        int limit = static_cast<int>(wide_window ? 60 + next() % 120 : next() % 40);
        int indent = static_cast<int>(next() % 30);
        bool counts = next() % 2 == 0;
        ASSERT_EQ(WrapText(text, limit, indent, counts),
                  ReferenceWrap(chars, limit, indent, counts))
            << "text '" << text << "' limit " << limit << " indent " << indent;
    }
}

TEST_F(DisplayTextTest, CodesAreFoundAtEveryPlaceInAWord) {
    // Plain runs are skipped eight bytes at a time: a code at any offset must still be seen.
    for (size_t at = 0; at < 20; ++at) {
        for (const char* code : {"\x02", "\x7f", "\x1f", "\xc2\x85"}) {
            std::string raw = std::string(at, 'x') + code + std::string(20, 'y');
            EXPECT_EQ(DisplayText(raw), std::string(at, 'x') + std::string(20, 'y'))
                << "offset " << at;
        }
        std::string latin = std::string(at, 'x') + "\xe9" + "yy";
        EXPECT_EQ(DisplayText(latin), std::string(at, 'x') + "\xc3\xa9yy");
    }
}

TEST_F(DisplayTextTest, Utf8IsKeptOnlyWhenWellFormedElseTheWholeLineIsWindows1252) {
    // At each edge of well-formed UTF-8: kept as it is, or the line read as Windows-1252.
    const struct {
        const char* raw;
        const char* shown;
    } cases[] = {
        {"\xc2\xa0|\xdf\xbf", "\xc2\xa0|\xdf\xbf"},  // U+00A0, U+07FF
        {"a\xc2\x80"
         "b\xc2\x9f"
         "c",
         "abc"},  // C1 controls go
        {"\xe0\xa0\x80\xed\x9f\xbf\xef\xbf\xbf", "\xe0\xa0\x80\xed\x9f\xbf\xef\xbf\xbf"},
        {"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        {"\xe0\x9f\xbf", "\xc3\xa0\xc5\xb8\xc2\xbf"},                          // overlong
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},                      // a surrogate
        {"\xf0\x80\x80\x80", "\xc3\xb0\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac"},  // overlong
        {"\xf4\xa0\x80\x80", "\xc3\xb4\xc2\xa0\xe2\x82\xac\xe2\x82\xac"},      // past U+10FFFF
        {"\xf5\x80", "\xc3\xb5\xe2\x82\xac"},
        {"\xc1\xbf", "\xc3\x81\xc2\xbf"},
        {"x\xc3", "x\xc3\x83"},  // cut short at the end
        {"\xe2\x82 ", "\xc3\xa2\xe2\x80\x9a "},
        {"\x80", "\xe2\x82\xac"},                         // a stray continuation byte
        {"\xc3\xa9\t\xe9", "\xc3\x83\xc2\xa9 \xc3\xa9"},  // valid, then not: all of it
        {"a\tb\x02\xc3\xa9", "a b\xc3\xa9"},              // a tab is one blank
    };
    std::string reused(500, '#');  // storage that held a longer line before
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayText(c.raw), c.shown) << c.raw;
        DisplayTextInto(c.raw, reused);
        EXPECT_EQ(reused, c.shown) << c.raw;
    }
}

TEST_F(DisplayTextTest, WrappingCountsLettersBelowCombiningMarksAsOneColumn) {
    // Two-byte letters up to U+02FF, U+0300 and up (a combining mark, no columns), a cut
    // sequence and a stray byte (one column each, as the wrapping never stalls).
    const std::pair<std::string, int> alphabet[] = {
        {"a", 1},        {" ", 1},        {"\xc2\xa0", 1}, {"\xca\xbc", 1},
        {"\xcb\xbf", 1}, {"\xcc\x80", 0}, {"\xcd\xaf", 0}, {"\x80", 1}};
    uint32_t seed = 777;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::pair<std::string, int>> chars;
        std::string text;
        size_t length = next() % 200;
        for (size_t i = 0; i < length; ++i) {
            const auto& c = alphabet[next() % (sizeof alphabet / sizeof *alphabet)];
            chars.push_back(c);
            text += c.first;
        }
        int limit = static_cast<int>(1 + next() % 90);
        int indent = static_cast<int>(next() % 30);
        bool counts = next() % 2 == 0;
        ASSERT_EQ(WrapText(text, limit, indent, counts),
                  ReferenceWrap(chars, limit, indent, counts))
            << "limit " << limit << " indent " << indent;
    }
    // A two-byte lead byte at the very end counts as one character of one column.
    EXPECT_EQ(WrapText("abc\xc3", 3, 0, false), (std::vector<std::string>{"abc", "\xc3"}));
}

}  // namespace
}  // namespace chat
