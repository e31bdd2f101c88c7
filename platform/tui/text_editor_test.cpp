#include "platform/tui/text_editor.h"

#include <gtest/gtest.h>

#include "platform/tui/text.h"

namespace tui {
namespace {

using Lines = std::vector<std::string>;

Key Ctrl(char32_t c) {
    return MakeKey(c, false, true);
}

Key Char(char32_t c) {
    return MakeKey(c);
}

void Type(TextEditor& e, std::u32string_view text) {
    for (char32_t c : text) e.HandleKey(c == U'\n' ? MakeKey(kKeyEnter) : Char(c));
}

std::string Utf8(const std::u32string& s) {
    return EncodeUtf8(s);
}

// Display widths of wide characters and marks need a UTF-8 character type.
class TextEditorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureUtf8Locale()); }
};

TEST_F(TextEditorTest, EditsJoinsAndSplits) {
    struct Case {
        const char* name;
        Lines start;
        size_t line, col;
        std::vector<Key> keys;
        Lines expected;
        size_t end_line, end_col;
    };
    const std::vector<Case> cases = {
        {"enter splits", {"/a /echo a"}, 0, 2, {MakeKey(kKeyEnter)}, {"/a", " /echo a"}, 1, 0},
        {"backspace at start joins", {"ab", "cd"}, 1, 0, {MakeKey(kKeyBackspace)}, {"abcd"}, 0, 2},
        {"delete at end joins", {"ab", "cd"}, 0, 2, {MakeKey(kKeyDelete)}, {"abcd"}, 0, 2},
        {"backspace at the very start does nothing", {"ab"}, 0, 0,
         {MakeKey(kKeyBackspace)}, {"ab"}, 0, 0},
        {"delete at the very end does nothing", {"ab"}, 0, 2, {MakeKey(kKeyDelete)}, {"ab"}, 0, 2},
        {"backspace deletes one character", {"abc"}, 0, 2, {MakeKey(kKeyBackspace)}, {"ac"}, 0, 1},
        {"tab goes to the next stop", {"ab"}, 0, 1, {MakeKey(kKeyTab)}, {"a   b"}, 0, 4},
        {"ctrl+y deletes the line", {"a", "b", "c"}, 1, 1, {Ctrl(U'y')}, {"a", "c"}, 1, 0},
        {"ctrl+y on the only line empties it", {"abc"}, 0, 1, {Ctrl(U'y')}, {""}, 0, 0},
        {"left wraps to the line before", {"ab", "cd"}, 1, 0, {MakeKey(kKeyLeft)}, {"ab", "cd"},
         0, 2},
        {"right wraps to the next line", {"ab", "cd"}, 0, 2, {MakeKey(kKeyRight)}, {"ab", "cd"},
         1, 0},
        {"ctrl+end and ctrl+home", {"ab", "cde"}, 0, 1, {Ctrl(kKeyEnd)}, {"ab", "cde"}, 1, 3},
        {"ctrl+home", {"ab", "cde"}, 1, 2, {Ctrl(kKeyHome)}, {"ab", "cde"}, 0, 0},
        {"home and end", {"abcdef"}, 0, 3, {MakeKey(kKeyEnd), MakeKey(kKeyHome)}, {"abcdef"}, 0,
         0},
        {"down keeps the column across a short line", {"abcdef", "x", "abcdef"}, 0, 4,
         {MakeKey(kKeyDown), MakeKey(kKeyDown)}, {"abcdef", "x", "abcdef"}, 2, 4},
        {"word moves", {"one two three"}, 0, 0, {Ctrl(kKeyRight), Ctrl(kKeyRight)},
         {"one two three"}, 0, 8},
        {"a mark goes with its base", {"e\xCC\x81x"}, 0, 2, {MakeKey(kKeyBackspace)}, {"x"}, 0,
         0},
        {"enter at the end adds an empty line", {"ab"}, 0, 2, {MakeKey(kKeyEnter), Char(U'c')},
         {"ab", "c"}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextEditor e(c.start);
        e.SetCursor(c.line, c.col);
        for (const Key& k : c.keys) e.HandleKey(k);
        EXPECT_EQ(e.Lines(), c.expected);
        EXPECT_EQ(e.CursorLine(), c.end_line);
        EXPECT_EQ(e.CursorColumn(), c.end_col);
    }
}

TEST_F(TextEditorTest, KeepLeaveAndModified) {
    TextEditor e({"x"});
    EXPECT_FALSE(e.Modified());
    EXPECT_EQ(e.HandleKey(Ctrl(U's')), TextEditResult::kKeep);
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyF1 + 1)), TextEditResult::kKeep);
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyEscape)), TextEditResult::kLeave);
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyF1 + 4)), TextEditResult::kUnhandled);
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyUp)), TextEditResult::kNone);
    EXPECT_FALSE(e.Modified());
    EXPECT_EQ(e.HandleKey(Char(U'y')), TextEditResult::kChanged);
    EXPECT_TRUE(e.Modified());
}

TEST_F(TextEditorTest, UntouchedLinesKeepTheirBytes) {
    // A Windows-1252 line and one with a control character come back exactly; only the line
    // the user typed in is re-encoded.
    const Lines start = {"caf\xE9 /echo", "bell\x07here", "plain"};
    TextEditor e(start);
    EXPECT_EQ(e.Lines(), start);
    EXPECT_EQ(e.Line(0), U"caf\u00e9 /echo");
    e.SetCursor(2, 5);
    Type(e, U"!");
    EXPECT_EQ(e.Lines(), (Lines{"caf\xE9 /echo", "bell\x07here", "plain!"}));
    e.SetCursor(0, 3);
    Type(e, U"\u00e9");
    EXPECT_EQ(e.Lines()[0], "caf\xC3\xA9\xC3\xA9 /echo");
}

TEST_F(TextEditorTest, LongLinesAreNeverCut) {
    const std::string long_line(100000, 'z');
    TextEditor e({long_line, "b"});
    EXPECT_EQ(e.Lines()[0], long_line);
    e.SetCursor(0, 100000);
    Type(e, U"!\nnew");
    Lines out = e.Lines();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], long_line + "!");
    EXPECT_EQ(out[1], "new");
    // Pasting text with line breaks splits it into lines; carriage returns go.
    e.SetCursor(2, 0);
    Key paste = MakeKey(kKeyPaste);
    paste.text = U"p1\r\np2\n";
    EXPECT_EQ(e.HandleKey(paste), TextEditResult::kChanged);
    EXPECT_EQ(e.Lines(), (Lines{long_line + "!", "new", "p1", "p2", "b"}));
}

TEST_F(TextEditorTest, ViewportScrollsBothWays) {
    Lines start;
    for (int i = 0; i < 30; ++i) start.push_back("line" + std::to_string(i));
    start[20] = std::string(50, 'a') + "XYZ";
    TextEditor e(start);
    TextEditorView v = e.Layout(20, 10);
    ASSERT_EQ(v.rows.size(), 10u);
    EXPECT_EQ(Utf8(v.rows[0]), "line0");
    EXPECT_EQ(v.cursor_row, 0);

    // PgDn moves by the page less one line and the view follows the cursor.
    e.HandleKey(MakeKey(kKeyPageDown));
    EXPECT_EQ(e.CursorLine(), 9u);
    e.HandleKey(MakeKey(kKeyPageDown));
    v = e.Layout(20, 10);
    EXPECT_EQ(e.CursorLine(), 18u);
    EXPECT_EQ(e.Top(), 9u);
    EXPECT_EQ(v.cursor_row, 9);

    // The end of a long line scrolls the view sideways; every row shows the same columns.
    e.SetCursor(20, 53);
    v = e.Layout(20, 10);
    EXPECT_GT(e.Left(), 0);
    EXPECT_EQ(v.cursor_col, 53 - e.Left());
    EXPECT_LT(v.cursor_col, 20);
    EXPECT_EQ(Utf8(v.rows[20 - e.Top()]).substr(Utf8(v.rows[20 - e.Top()]).size() - 3), "XYZ");
    EXPECT_EQ(Utf8(v.rows[19 - e.Top()]), "");  // "line19" lies left of the view
    e.HandleKey(MakeKey(kKeyHome));
    v = e.Layout(20, 10);
    EXPECT_EQ(e.Left(), 0);
    EXPECT_EQ(v.cursor_col, 0);

    // Ctrl+Home goes back to the top; PgUp at the top does nothing.
    e.HandleKey(Ctrl(kKeyHome));
    v = e.Layout(20, 10);
    EXPECT_EQ(e.Top(), 0u);
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyPageUp)), TextEditResult::kNone);
}

TEST_F(TextEditorTest, WideCharactersAndClicks) {
    TextEditor e({"\u65e5\u672c\u8a9e text", "ab"});
    // A click on the second half of a wide character places the cursor before it.
    e.Layout(40, 5);
    e.Click(0, 3);
    EXPECT_EQ(e.CursorColumn(), 1u);
    e.Click(0, 100);  // past the end of the line
    EXPECT_EQ(e.CursorColumn(), 8u);
    e.Click(7, 1);  // below the text: the last line
    EXPECT_EQ(e.CursorLine(), 1u);
    EXPECT_EQ(e.CursorColumn(), 1u);
    // A wide character cut by the left edge shows as a blank, never half a glyph.
    e.SetCursor(0, 3);
    TextEditorView v = e.Layout(5, 2);
    EXPECT_EQ(e.Left(), 3);
    EXPECT_EQ(v.rows[0], U" \u8a9e t");
    EXPECT_EQ(v.cursor_col, 3);
    // Wheel moves the cursor a few lines.
    Key wheel = MakeKey(kKeyMouse);
    wheel.button = kWheelDown;
    e.SetCursor(0, 0);
    EXPECT_EQ(e.HandleKey(wheel), TextEditResult::kChanged);
    EXPECT_EQ(e.CursorLine(), 1u);
}

TEST_F(TextEditorTest, FullTextRefusesMore) {
    TextEditor e({"aaaaaaaa"});
    e.SetMaxChars(10);
    e.SetCursor(0, 0);
    EXPECT_EQ(e.HandleKey(Char(U'b')), TextEditResult::kChanged);
    EXPECT_EQ(e.HandleKey(Char(U'b')), TextEditResult::kChanged);
    EXPECT_EQ(e.HandleKey(Char(U'b')), TextEditResult::kBeep);
    e.HandleKey(MakeKey(kKeyBackspace));
    EXPECT_EQ(e.HandleKey(Char(U'c')), TextEditResult::kChanged);
}

TEST_F(TextEditorTest, EmptyStartIsOneEmptyLine) {
    TextEditor e(Lines{});
    EXPECT_EQ(e.LineCount(), 1u);
    Type(e, U"/greet /echo hi");
    EXPECT_EQ(e.Lines(), (Lines{"/greet /echo hi"}));
}

}  // namespace
}  // namespace tui
