#include "platform/tui/line_editor.h"

#include <gtest/gtest.h>

#include "platform/tui/text.h"

namespace tui {
namespace {

void Type(LineEditor& e, std::u32string_view s) {
    for (char32_t c : s) e.HandleKey(MakeKey(c));
}

class LineEditorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(EnsureUtf8Locale()); }
};

TEST_F(LineEditorTest, EditingKeys) {
    LineEditor e;
    Type(e, U"hello world");
    e.HandleKey(MakeKey(kKeyLeft, false, true));  // Ctrl+Left: start of "world"
    EXPECT_EQ(e.cursor, 6u);
    e.HandleKey(MakeKey(kKeyBackspace));
    Type(e, U"_");
    EXPECT_EQ(e.text, U"hello_world");
    e.HandleKey(MakeKey(U'w', false, true));  // Ctrl+W removes the word before the cursor
    EXPECT_EQ(e.text, U"world");
    e.HandleKey(MakeKey(kKeyEnd));
    e.HandleKey(MakeKey(kKeyHome));
    e.HandleKey(MakeKey(kKeyDelete));
    EXPECT_EQ(e.text, U"orld");
    e.HandleKey(MakeKey(U'k', false, true));
    EXPECT_EQ(e.text, U"");
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyBackspace)), EditResult::kNone);
    EXPECT_EQ(e.HandleKey(MakeKey(U'x', true)), EditResult::kUnhandled);  // Alt+x is the owner's
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyEnter)), EditResult::kEnter);
}

TEST_F(LineEditorTest, LimitAndControls) {
    LineEditor e;
    e.limit = 5;
    Type(e, U"abcdef");
    EXPECT_EQ(e.text, U"abcde");
    EXPECT_EQ(e.HandleKey(MakeKey(U'g')), EditResult::kBeep);
    e.SetText(U"0123456789");
    EXPECT_EQ(e.text, U"01234");
    e.Take();
    EXPECT_TRUE(e.Insert(U"a\x1b[31mb\tc"));
    EXPECT_EQ(e.text, U"a[31m");  // ESC dropped, cut at the limit
}

TEST_F(LineEditorTest, PasteWithLineBreaks) {
    LineEditor e;
    e.multiline_paste = true;
    Type(e, U"ab");
    e.HandleKey(MakeKey(kKeyLeft));
    Key paste = MakeKey(kKeyPaste);
    paste.text = U"1\r\n2\r3";
    EXPECT_EQ(e.HandleKey(paste), EditResult::kPasteLines);
    EXPECT_EQ(e.Take(), U"a1\n2\n3b");

    LineEditor field;  // a one-line field joins the lines
    paste.text = U"x\ny\n";
    EXPECT_EQ(field.HandleKey(paste), EditResult::kChanged);
    EXPECT_EQ(field.text, U"x y");
}

TEST_F(LineEditorTest, HistoryBrowsesAndDeduplicates) {
    EditHistory h;
    h.limit = 3;
    h.Add(U"one");
    h.Add(U"two");
    h.Add(U"ONE");  // the same line (case ignored) moves to the end instead of being added
    ASSERT_EQ(h.entries.size(), 2u);
    EXPECT_EQ(h.entries.back(), U"one");
    h.Add(U"three");
    h.Add(U"four");  // past the limit the oldest falls off
    EXPECT_EQ(h.entries, (std::vector<std::u32string>{U"one", U"three", U"four"}));

    std::u32string out;
    EXPECT_FALSE(h.Next(out));  // nothing marked
    ASSERT_TRUE(h.Previous(out));
    EXPECT_EQ(out, U"four");
    ASSERT_TRUE(h.Previous(out));
    ASSERT_TRUE(h.Previous(out));
    EXPECT_EQ(out, U"one");
    EXPECT_FALSE(h.Previous(out));  // the oldest: beep
    ASSERT_TRUE(h.Next(out));
    ASSERT_TRUE(h.Next(out));
    ASSERT_TRUE(h.Next(out));  // past the newest: empty line, mark cleared
    EXPECT_EQ(out, U"");
    EXPECT_EQ(h.mark, -1);

    LineEditor e;
    e.history = h;
    EXPECT_EQ(e.HandleKey(MakeKey(kKeyUp)), EditResult::kChanged);
    EXPECT_EQ(e.text, U"four");
    EXPECT_EQ(e.cursor, 4u);
}

TEST_F(LineEditorTest, OneRowScrollsToKeepTheCursorVisible) {
    LineEditor e;
    Type(e, U"0123456789abcdef");
    EditorView v = e.Layout(8, 1);
    EXPECT_EQ(v.rows[0], U"9abcdef");  // room for the cursor after the text
    EXPECT_EQ(v.cursor_col, 7);
    e.HandleKey(MakeKey(kKeyHome));
    v = e.Layout(8, 1);
    EXPECT_EQ(v.rows[0], U"01234567");
    EXPECT_EQ(v.cursor_col, 0);

    // Wide characters: the visible part never holds half of one.
    LineEditor w;
    Type(w, U"\u4E00\u4E01\u4E02\u4E03\u4E04");
    v = w.Layout(6, 1);
    EXPECT_LE(TextWidth(v.rows[0]), 6);
    EXPECT_EQ(v.cursor_col, TextWidth(v.rows[0]));
    EXPECT_LE(v.cursor_col, 5);
}

TEST_F(LineEditorTest, TwoRowsFlowAndScrollByRow) {
    LineEditor e;
    Type(e, U"abcdefghijklmnopqrstu");  // 21 characters in rows of 8
    EditorView v = e.Layout(8, 2);
    ASSERT_EQ(v.rows.size(), 2u);
    EXPECT_EQ(v.rows[0], U"ijklmnop");
    EXPECT_EQ(v.rows[1], U"qrstu");
    EXPECT_EQ(v.cursor_row, 1);
    EXPECT_EQ(v.cursor_col, 5);
    e.HandleKey(MakeKey(kKeyHome));
    v = e.Layout(8, 2);
    EXPECT_EQ(v.rows[0], U"abcdefgh");
    EXPECT_EQ(v.cursor_row, 0);

    LineEditor full;  // a cursor after a full row gets the next row
    Type(full, U"abcdefgh");
    v = full.Layout(8, 2);
    EXPECT_EQ(v.cursor_row, 1);
    EXPECT_EQ(v.cursor_col, 0);
}

}  // namespace
}  // namespace tui
