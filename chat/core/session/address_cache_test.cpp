#include "chat/core/session/address_cache.h"

#include "chat/core/session/server_parser_fixture.h"
#include "chat/core/wildcard.h"

namespace chat {
namespace {

std::string Mask(std::string address, int type) {
    return donickaddr(address, type) ? address : "<refused>";
}

TEST(MaskTest, FiveTypesOnOrdinaryAndOddAddresses) {
    EXPECT_EQ(Mask("n!~verylonguser@host.example.org", 0), "n!*ylonguser@host.example.org");
    EXPECT_EQ(Mask("n!~verylonguser@host.example.org", 1), "*!*ylonguser@host.example.org");
    EXPECT_EQ(Mask("n!~verylonguser@host.example.org", 2), "*!*@host.example.org");
    EXPECT_EQ(Mask("n!~verylonguser@host.example.org", 3), "*!*ylonguser@*.example.org");
    EXPECT_EQ(Mask("n!~verylonguser@host.example.org", 4), "*!*@*.example.org");
    EXPECT_EQ(Mask("n!u@192.168.1.5", 4), "*!*@192.168.1.*");
    EXPECT_EQ(Mask("n!u@192.168.1.5", 3), "*!*u@192.168.1.*");
    EXPECT_EQ(Mask("n!u@localhost", 4), "*!*@localhost");
    EXPECT_EQ(Mask("n!u@2001:db8::1", 4), "*!*@2001:db8::1");
    EXPECT_EQ(Mask("n!@h.x", 1), "*!*@h.x");
    EXPECT_EQ(Mask("n!u@", 4), "*!*@");
    EXPECT_EQ(Mask("nobang@h", 0), "<refused>");
    EXPECT_EQ(Mask("n!noat", 0), "<refused>");
    EXPECT_EQ(Mask("a@b!c", 0), "<refused>");  // "@" before "!" is no address
}

TEST(WildcardTest, MatchesWithBacktracking) {
    EXPECT_TRUE(findmatch("a!b@a.evil.net.evil.net", "*!*@*.evil.net"));
    EXPECT_TRUE(findmatch("abab", "*ab"));
    EXPECT_TRUE(findmatch("Nick!User@Host", "nick!*@HOST"));
    EXPECT_TRUE(findmatch("anything", "*"));
    EXPECT_TRUE(findmatch("x", "**x**"));
    EXPECT_FALSE(findmatch("abc", "abd*"));
    EXPECT_FALSE(findmatch("abc", "*b"));
    EXPECT_FALSE(findmatch("", "*"));
    EXPECT_FALSE(findmatch("a", ""));
    // A hostile pattern stays fast.
    std::string text(5000, 'a'), pattern;
    for (int i = 0; i < 200; ++i) pattern += "*a";
    pattern += "*b";
    EXPECT_FALSE(findmatch(text, pattern));
}

TEST_F(ParserTest, CacheFollowsJoinsNicksAndQuits) {
    Options().mil = 1;
    Join("#c");
    Join("#d");
    parseline(":bob!b@h.net JOIN #c");
    parseline(":bob!b@h.net JOIN #d");
    parseline(":amy!a@h.org JOIN #c");
    std::string found;
    ASSERT_TRUE(findnick("BOB", found));
    EXPECT_EQ(found, "bob!b@h.net");
    parseline(":bob!b@h.net NICK robert");
    EXPECT_FALSE(findnick("bob", found));
    ASSERT_TRUE(findnick("robert", found));
    EXPECT_EQ(found, "robert!b@h.net");
    // Still listed in #d after leaving #c: kept.
    parseline(":robert!b@h.net PART #c");
    EXPECT_TRUE(findnick("robert", found));
    parseline(":robert!b@h.net QUIT :bye");
    EXPECT_FALSE(findnick("robert", found));
    parseline(":op!o@h KICK #c amy :out");
    EXPECT_FALSE(findnick("amy", found));
    EXPECT_TRUE(findnick("op", found));
    // A rename onto a cached name keeps one entry; a cleared cache starts again.
    parseline(":zed!z@h JOIN #c");
    parseline(":zed!z@h NICK OP");
    ASSERT_TRUE(findnick("op", found));
    EXPECT_EQ(found, "OP!z@h");
    AddressList().clear();
    EXPECT_FALSE(findnick("op", found));
    parseline(":op!o@h JOIN #c");
    EXPECT_TRUE(findnick("op", found));
    // Our own part cleans up whoever no open channel lists.
    parseline(":me!u@h PART #c");
    EXPECT_FALSE(findnick("op", found));
}

}  // namespace
}  // namespace chat
