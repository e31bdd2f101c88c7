#include "chat/net/socks5.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

using namespace std::string_literals;

TEST(Socks5, GreetingAndConnectRequestLayout) {
    struct Case {
        std::string host, user, greeting, request;
    };
    const Case cases[] = {
        {"irc.example.org", "", "\x05\x01\x00"s, "\x05\x01\x00\x03\x0Firc.example.org\x1A\x0B"s},
        {"127.0.0.1", "joe", "\x05\x02\x00\x02"s, "\x05\x01\x00\x01\x7F\x00\x00\x01\x1A\x0B"s},
        {"::1", "", "\x05\x01\x00"s, "\x05\x01\x00\x04"s + std::string(15, '\0') + "\x01\x1A\x0B"s},
    };
    for (const Case& c : cases) {
        Socks5Handshake h(c.host, 6667, c.user, "pw");
        EXPECT_EQ(h.Greeting(), c.greeting) << c.host;
        EXPECT_EQ(h.ConnectRequest(), c.request) << c.host;
    }
}

// Each conversation: the relay's replies in order, and how the handshake ends.
TEST(Socks5, Conversations) {
    struct Case {
        const char* what;
        std::string user;
        std::vector<std::string> replies;
        std::string error;  // empty: granted after the last reply
    };
    const std::string ok4 = "\x05\x00\x00\x01\x7F\x00\x00\x01\x1A\x0B"s;
    const std::string ok_name = "\x05\x00\x00\x03\x04host\x00\x50"s;
    const std::string ok6 = "\x05\x00\x00\x04"s + std::string(16, '\0') + "\x00\x50"s;
    const Case cases[] = {
        {"no auth", "", {"\x05\x00"s, ok4}, ""},
        {"bound by name", "", {"\x05\x00"s, ok_name}, ""},
        {"bound by IPv6", "", {"\x05\x00"s, ok6}, ""},
        {"password accepted", "joe", {"\x05\x02"s, "\x01\x00"s, ok4}, ""},
        {"password refused",
         "joe",
         {"\x05\x02"s, "\x01\x01"s},
         "*** SOCKS: User name or password refused"},
        {"relay wants a password",
         "",
         {"\x05\xFF"s},
         "*** SOCKS: The relay wants a user name and password"},
        {"no method", "joe", {"\x05\xFF"s}, "*** SOCKS: No authentication method accepted"},
        {"method not offered", "", {"\x05\x02"s}, "*** Invalid SOCKS reply"},
        {"not version 5", "", {"HT"s}, "*** Invalid SOCKS reply"},
        {"bad auth version", "joe", {"\x05\x02"s, "\x07\x00"s}, "*** Invalid SOCKS reply"},
        {"refused", "", {"\x05\x00"s, "\x05\x05\x00\x01\x00"s}, "*** SOCKS: Connection refused"},
        {"ruleset",
         "",
         {"\x05\x00"s, "\x05\x02\x00\x01\x00"s},
         "*** SOCKS: Connection not allowed by the relay's rules"},
        {"bad address type", "", {"\x05\x00"s, "\x05\x00\x00\x09\x00"s}, "*** Invalid SOCKS reply"},
        {"bad reply version",
         "",
         {"\x05\x00"s, "\x04\x00\x00\x01\x00"s},
         "*** Invalid SOCKS reply"},
    };
    for (const Case& c : cases) {
        Socks5Handshake h("irc.example.org", 6667, c.user, "secret");
        Socks5Handshake::Step last;
        std::string sent;
        for (const std::string& reply : c.replies) {
            // Byte by byte: never more than the handshake asks for.
            for (size_t i = 0; i < reply.size(); ++i) {
                ASSERT_GT(h.Wanted(), 0u) << c.what << " byte " << i;
                last = h.Feed(reply.substr(i, 1));
                sent += last.send;
            }
        }
        EXPECT_EQ(last.error, c.error) << c.what;
        EXPECT_EQ(last.done, c.error.empty()) << c.what;
        EXPECT_EQ(h.Wanted(), 0u) << c.what;
        if (c.what == std::string("password accepted")) {
            EXPECT_EQ(sent.substr(0, 12), "\x01\x03joe\x06secret"s);
        }
    }
}

TEST(Socks5, ReplyCodesAreNamed) {
    for (unsigned code = 1; code <= 8; ++code) {
        std::string text = Socks5ReplyText(static_cast<unsigned char>(code));
        EXPECT_EQ(text.rfind("*** SOCKS: ", 0), 0u) << code;
    }
    EXPECT_EQ(Socks5ReplyText(0), "");
    EXPECT_EQ(Socks5ReplyText(9), "*** Invalid SOCKS reply");
    EXPECT_EQ(Socks5ReplyText(255), "*** Invalid SOCKS reply");
}

TEST(Socks5, LongFieldsAreCutToOneLengthByte) {
    std::string host(400, 'h');
    Socks5Handshake h(host, 1, "", "");
    std::string r = h.ConnectRequest();
    EXPECT_EQ(static_cast<unsigned char>(r[4]), 255u);
    EXPECT_EQ(r.size(), 5u + 255u + 2u);
}

}  // namespace
}  // namespace chat
