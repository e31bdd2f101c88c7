#include "chat/net/socks4.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

TEST(Socks4, RequestLayout) {
    struct Case {
        uint32_t ip;
        uint16_t port;
        std::string userid;
        std::string expected;
    };
    const Case cases[] = {
        // No user id: nine bytes, the last the terminating zero.
        {0x7F000001, 6667, "", std::string("\x04\x01\x1A\x0B\x7F\x00\x00\x01\x00", 9)},
        {0xC0A80102, 1, "joe", std::string("\x04\x01\x00\x01\xC0\xA8\x01\x02joe\x00", 12)},
        // A zero byte inside the id would end it early on the relay's side anyway.
        {0x0A000001, 65535, std::string("ab\0cd", 5),
         std::string("\x04\x01\xFF\xFF\x0A\x00\x00\x01"
                     "ab\x00",
                     11)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildSocksRequest(c.ip, c.port, c.userid), c.expected) << c.userid;
}

TEST(Socks4, LongUserIdIsCutNotOverrun) {
    std::string id(500, 'u');
    std::string request = BuildSocksRequest(1, 2, id);
    EXPECT_EQ(request.size(), 8 + kSocksUserIdLimit + 1);
    EXPECT_EQ(request.back(), '\0');
}

TEST(Socks4, ReplyCodes) {
    const std::pair<unsigned char, const char*> cases[] = {
        {90, ""},
        {91, "*** SOCKS: Rejected/Failed"},
        {92, "*** SOCKS: No Identd"},
        {93, "*** SOCKS: UserID is bad"},
        {0, "*** Invalid SOCKS reply"},
        {94, "*** Invalid SOCKS reply"},
        {255, "*** Invalid SOCKS reply"},
    };
    for (auto [code, text] : cases) EXPECT_EQ(SocksReplyText(code), text) << int(code);
}

}  // namespace
}  // namespace chat
