#include "chat/net/finger.h"

#include <gtest/gtest.h>

#include <vector>

#include "chat/core/frame.h"

namespace chat {
namespace {

std::vector<std::string> Lines(std::string_view bytes, size_t chunk = 1000) {
    FingerLines f;
    std::vector<std::string> out;
    for (size_t i = 0; i < bytes.size(); i += chunk)
        f.Push(bytes.substr(i, chunk), [&out](const std::string& l) { out.push_back(l); });
    return out;
}

TEST(FingerLines, Assembly) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        // The second character lands in column 8: seven blanks between them.
        {"a\tb\n", {"a       b"}},
        {"\tx\n", {"        x"}},
        {"abcdefgh\ty\n", {"abcdefgh        y"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"\n\n", {" ", " "}},
        {"no end", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Lines(c.bytes), c.lines) << c.bytes;
        EXPECT_EQ(Lines(c.bytes, 1), c.lines) << c.bytes << " byte by byte";
    }
}

TEST(FingerLines, LongLineBreaksBeforeTheNextByte) {
    std::string bytes(kFingerLineLimit, 'x');
    bytes += "yz\n";
    auto lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(kFingerLineLimit, 'x'));
    EXPECT_EQ(lines[1], "yz");
}

TEST(FingerReply, Sections) {
    const std::string file =
        "[joe]\r\nJoe's plan\nsecond line\n[Default]\nwho?\n[x] trailing\nlast\n";
    struct Case {
        std::string file, query, reply;
    };
    const Case cases[] = {
        {file, "joe", "Joe's plan\r\nsecond line\r\n"},
        {file, "JOE", "Joe's plan\r\nsecond line\r\n"},
        {file, "nobody", "who?\r\n"},  // unknown users get the default section
        {file, "", "who?\r\n"},
        {file, "x", "last\r\n"},
        {"[joe]\nhi\n", "ann", "No such user!\r\n"},
        {"", "", "No such user!\r\n"},
        // A section ends at any line that begins with "[" and holds "]".
        {"[a]\none\n[b\ntwo\n[c]\n", "a", "one\r\n[b\r\ntwo\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FingerReplyFor(c.file, c.query), c.reply) << c.query;
}

TEST(FingerReply, BoundedSize) {
    std::string file = "[default]\n";
    for (int i = 0; i < 20000; ++i) file += "a long line of text\n";
    EXPECT_LE(FingerReplyFor(file, "").size(), kFingerReplyLimit);
}

}  // namespace
}  // namespace chat

namespace chat {
namespace {

// The Tools menu's finger entries follow the recent list and the running state.
TEST(FingerMenu, RecentAddressesOrTheCancelItem) {
    FingerClient& f = Finger();
    const FingerClient saved = f;
    f = FingerClient{};
    EXPECT_EQ(MakeFingerMenu().size(), 1u);
    for (const char* a : {"a@x.example", "b&c@y.example", "c@z", "d@z", "e@z", "f@z", "g@z"})
        aline(f.szfinger, a, false);
    const std::vector<FingerMenuItem> items = MakeFingerMenu();
    ASSERT_EQ(items.size(), 1 + kFingerMenuAddresses);
    EXPECT_EQ(items[0].text, "Fin&ger...\tAlt+G");
    EXPECT_EQ(items[0].command, kCmdFinger);
    EXPECT_EQ(items[1].text, "a@x.example");
    EXPECT_EQ(items[1].command, kFingerMenuFirst);
    EXPECT_EQ(items[2].text, "b&&c@y.example");  // shown with its "&", not as a letter
    EXPECT_EQ(items[5].command, kFingerMenuFirst + 4);
    f.InFinger = true;
    const std::vector<FingerMenuItem> running = MakeFingerMenu();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].text, "Cancel Fin&ger\tAlt+G");
    // Identifiers outside the five belong to other menus.
    EXPECT_FALSE(ProcessFingerMenu(kFingerMenuFirst - 1));
    EXPECT_FALSE(ProcessFingerMenu(kFingerMenuFirst + static_cast<int>(kFingerMenuAddresses)));
    f = saved;
}

}  // namespace
}  // namespace chat
