#include "chat/net/ident.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

TEST(Ident, QueryParsing) {
    struct Case {
        const char* query;
        bool ok;
        long local, remote;
    };
    const Case cases[] = {
        {"6191, 23\r\n", true, 6191, 23},
        {"6191,23", true, 6191, 23},
        {"  6191 ,  23  \r\n", true, 6191, 23},
        {"0, 23\r\n", true, 0, 23},
        {"abc, def\r\n", true, 0, 0},           // numbers that are not numbers: no port
        {"99999999999999, 1\r\n", true, 0, 1},  // no overflow into a valid port
        {"6191 23\r\n", false, 0, 0},
        {"\r\n, 23", false, 0, 0},  // the comma lies behind the line end
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        auto got = ParseIdentQuery(c.query);
        ASSERT_EQ(got.has_value(), c.ok) << c.query;
        if (got) {
            EXPECT_EQ(got->first, c.local) << c.query;
            EXPECT_EQ(got->second, c.remote) << c.query;
        }
    }
}

TEST(Ident, RepliesOnlyForOurConnection) {
    struct Case {
        long local, remote;
        uint16_t our_local, our_remote;
        const char* expected;
    };
    const Case cases[] = {
        {6191, 23, 6191, 23, "6191, 23 : USERID : UNIX : joe\r\n"},
        {6191, 24, 6191, 23, "6191, 24 : ERROR : NO-USER\r\n"},
        {6190, 23, 6191, 23, "6190, 23 : ERROR : NO-USER\r\n"},
        {6191, 23, 0, 0, "6191, 23 : ERROR : NO-USER\r\n"},  // no connection at all
        {0, 23, 6191, 23, "0, 23 : ERROR : INVALID-PORT\r\n"},
        {6191, 65536, 6191, 23, "6191, 65536 : ERROR : INVALID-PORT\r\n"},
        {-1, 23, 6191, 23, "-1, 23 : ERROR : INVALID-PORT\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IdentReply(c.local, c.remote, c.our_local, c.our_remote, "UNIX", "joe"),
                  c.expected);
}

}  // namespace
}  // namespace chat
