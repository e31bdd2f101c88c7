#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_state.h"
#include "chat/dcc/dcc_test_support.h"
#include "platform/net.h"

namespace chat::dcc {
namespace {

class DccOffersTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartDccTest();
        Session().send = [this](std::string_view line, bool remote) {
            sent.push_back((remote ? "R " : "") + std::string(line));
        };
    }
    void TearDown() override { EndDccTest(); }
    int Count(const std::string& part) const {
        int n = 0;
        for (const std::string& s : sent) n += s.find(part) != std::string::npos;
        return n;
    }
    std::vector<std::string> sent;
};

TEST_F(DccOffersTest, OffersWaitTheirTurn) {
    HandleRequest("ann",
                  "\x01"
                  "DCC SEND a.txt 2130706433 5000 10\x01");
    HandleRequest("bob",
                  "\x01"
                  "DCC SEND b.txt 2130706433 5001 10\x01");
    ASSERT_EQ(Dcc().gets[0].state, 1);
    ASSERT_EQ(Dcc().gets[1].state, 1);
    EXPECT_EQ(Dcc().asking, 0);
    RefuseGet(0);
    EXPECT_EQ(Dcc().gets[0].state, 0);
    EXPECT_EQ(Dcc().asking, 1);
    // Loopback offers are asked about even when offers are accepted automatically.
    Options().sad = 1;
    HandleRequest("cy",
                  "\x01"
                  "DCC SEND c.txt 2130706433 5002 10\x01");
    EXPECT_EQ(Dcc().gets[0].state, 1);
}

TEST_F(DccOffersTest, RefusalsAndTheirNotices) {
    struct Case {
        std::string text;
        std::string notice;
    };
    const Case cases[] = {
        {"\x01"
         "DCC SEND .. 2130706433 5000 10\x01",
         "DCC SEND Invalid parameters!"},
        {"\x01"
         "DCC SEND a.txt 0 5000 10\x01",
         "DCC SEND Invalid parameters!"},
        {"\x01"
         "DCC CHAT chat 2130706433 80\x01",
         "DCC CHAT Invalid parameters!"},
        {"\x01"
         "DCC RESUME file.ext 5000\x01",
         "DCC RESUME Invalid parameters!"},
        {"\x01"
         "DCC RESUME file.ext 5000 10\x01",
         "DCC RESUME No such session!"},
        {"\x01"
         "DCC ACCEPT x\x01",
         "DCC ACCEPT Invalid parameters!"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Session().auto_replies.clear();
        sent.clear();
        HandleRequest("eve" + std::to_string(n++), c.text);
        EXPECT_EQ(Count(c.notice), 1);
        EXPECT_EQ(Dcc().gets[0].state, 0);
    }
    // Every notice counts against the automatic-reply limits.
    sent.clear();
    Session().auto_replies.clear();
    for (int i = 0; i < 10; ++i)
        HandleRequest("eve",
                      "\x01"
                      "DCC SEND .. 2130706433 5000 1\x01");
    EXPECT_LE(Count("Invalid parameters!"), 3);
    for (const std::string& s : sent) EXPECT_EQ(s.rfind("R NOTICE eve :", 0), 0u) << s;
}

TEST_F(DccOffersTest, ResumePositionsAreChecked) {
    char tmpl[] = "/tmp/dcc-offers-XXXXXX";
    int fd = ::mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "0123456789", 10), 10);
    ::close(fd);
    ASSERT_TRUE(StartSend("ann", tmpl, false));
    const SendSlot& s = Dcc().sends[0];
    ASSERT_EQ(s.state, 1);
    std::string port = std::to_string(s.port);
    HandleRequest("ann",
                  "\x01"
                  "DCC RESUME file.ext " +
                      port + " 11\x01");
    EXPECT_EQ(Count("DCC RESUME Invalid parameters!"), 1);
    EXPECT_FALSE(s.resumed);
    HandleRequest("ANN",
                  "\x01"
                  "DCC RESUME file.ext " +
                      port + " 10\x01");
    EXPECT_EQ(Count("PRIVMSG ann :\x01"
                    "DCC ACCEPT file.ext " +
                    port + " 10\x01"),
              1);
    EXPECT_TRUE(s.resumed);
    EXPECT_EQ(s.resume, 10u);
    // Another nick cannot take over the session.
    HandleRequest("bob",
                  "\x01"
                  "DCC RESUME file.ext " +
                      port + " 5\x01");
    EXPECT_EQ(Count("DCC RESUME No such session!"), 1);
    ::unlink(tmpl);
}

TEST_F(DccOffersTest, AChatOfferAnswersOurWaitingOne) {
    ASSERT_TRUE(StartChat("ann", false));
    ASSERT_EQ(Dcc().chats[0].state, 1);
    WindowId ours = Dcc().chats[0].window;
    HandleRequest("ann",
                  "\x01"
                  "DCC CHAT chat 2130706433 6000\x01");
    EXPECT_EQ(Dcc().chats[0].state, 2);
    EXPECT_EQ(Dcc().chats[0].window, ours);
    EXPECT_EQ(Dcc().chats[1].state, 0);
    EXPECT_FALSE(StartChat("ME", false));  // talking to ourselves
}

}  // namespace
}  // namespace chat::dcc
