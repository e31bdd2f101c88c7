#include "chat/core/wildcard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "chat/core/session/session_state.h"

namespace chat {
namespace {

struct MatchCase {
    const char* text;
    const char* pattern;
    bool match;
};

TEST(Wildcard, MatchesMasksAndBacktracks) {
    ResetSession();
    const MatchCase cases[] = {
        {"bob!x@a.b.c", "*!*@*.c", true},
        {"bob!x@h", "bob*", true},
        {"abab", "*ab", true},  // the first "ab" is not the one that ends the text
        {"a!b@a.evil.net.evil.net", "*!*@*.evil.net", true},
        {"a!b@evil.net.org", "*!*@*.evil.net", false},
        {"ab", "*b", true},
        {"ab", "a", false},
        {"a", "ab", false},
        {"abc", "a*c*", true},
        {"aXbXc", "a*b*c", true},
        {"abc", "a*b*d", false},
        {"x?y", "x?y", true},
        {"xzy", "x?y", false},  // "?" is an ordinary character
        {"", "*", false},
        {"abc", "", false},
        {"anything", "*", true},
        {"anything", "**", true},
        {"BoB!X@Host", "bob!x@HOST", true},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(findmatch(c.text, c.pattern), c.match) << c.text << " ~ " << c.pattern;
}

TEST(Wildcard, FollowsTheServersCaseMapping) {
    ResetSession();
    Session().casemapping = 0;  // rfc1459
    EXPECT_TRUE(findmatch("nick[a]!u@h", "NICK{A}*"));
    EXPECT_TRUE(findmatch("a~b", "A^B"));
    Session().casemapping = 2;  // strict-rfc1459: ~ and ^ differ
    EXPECT_FALSE(findmatch("a~b", "A^B"));
    EXPECT_TRUE(findmatch("a\\b", "A|B"));
    Session().casemapping = 1;  // ascii
    EXPECT_FALSE(findmatch("nick[a]", "nick{a}"));
    EXPECT_TRUE(findmatch("NICK[a]", "nick[A]"));
    ResetSession();
}

TEST(Wildcard, HostilePatternsStayCheap) {
    ResetSession();
    std::string text(20000, 'a');
    std::string pattern;
    for (int i = 0; i < 500; ++i) pattern += "*a";
    pattern += "*b";
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(findmatch(text, pattern));
    EXPECT_TRUE(findmatch(text + "b", pattern));
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::seconds(20));
}

TEST(Wildcard, MasksWithAnAddressPartAreTakenAsWritten) {
    ResetSession();
    const struct {
        const char* mask;
        const char* pattern;
        bool matches;  // coolguy!ab@127.0.0.1
    } cases[] = {
        {"coolguy", "coolguy!*@*", true},     {"cool*", "cool*!*@*", true},
        {"*@127.0.0.1", "*@127.0.0.1", true}, {"cool*@*", "cool*@*", true},
        {"*!ab@*", "*!ab@*", true},           {"other", "other!*@*", false},
        {"*@10.0.0.1", "*@10.0.0.1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddressMask(c.mask), c.pattern);
        EXPECT_EQ(findmatch("coolguy!ab@127.0.0.1", AddressMask(c.mask)), c.matches) << c.mask;
    }
}

}  // namespace
}  // namespace chat
