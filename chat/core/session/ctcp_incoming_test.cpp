#include "chat/core/session/ctcp_incoming.h"

#include "chat/core/session/dcc_offer.h"
#include "chat/core/session/server_parser_fixture.h"

namespace chat {
namespace {

class CtcpTest : public ParserTest {
protected:
    std::vector<Printed> Request(const std::string& from, const std::string& text) {
        return Feed({":" + from + "!u@h PRIVMSG me :" + text});
    }
};

TEST_F(CtcpTest, RepliesAndReports) {
    auto out = Request("bob", "\x01VERSION\x01");
    EXPECT_EQ(sent.back(), "NOTICE bob :\x01VERSION vesk32 v4.1 IRC Client\x01");
    EXPECT_EQ(remote_sent, 1);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0].text, "[bob VERSION]");
    EXPECT_EQ(out[0].colour, 3);

    Request("amy", "\x01PING 1700000000\x01");
    EXPECT_EQ(sent.back(), "NOTICE amy :\x01PING 1700000000\x01");
    Request("cat", "\x01ping 42");  // no closing byte: one is added
    EXPECT_EQ(sent.back(), "NOTICE cat :\x01PING 42\x01");
    Request("dan",
            "\x01"
            "CLIENTINFO\x01");
    EXPECT_EQ(sent.back().substr(0, 24),
              "NOTICE dan :\x01"
              "CLIENTINFO ");
    Request("eve", "\x01TIME\x01");
    EXPECT_EQ(sent.back().size(), std::string("NOTICE eve :\x01TIME \x01").size() + 24);
    Options().szUser = "Joe";
    Options().szEmail = "joe@x";
    Request("fay",
            "\x01"
            "FINGER\x01");
    EXPECT_EQ(sent.back(),
              "NOTICE fay :\x01"
              "FINGER Joe (joe@x) Idle 0 seconds\x01");

    // Unknown requests are reported, never answered.
    size_t before = sent.size();
    out = Request("gil",
                  "\x01"
                  "FOO bar baz\x01");
    EXPECT_EQ(sent.size(), before);
    EXPECT_EQ(out.back().text, "[gil FOO bar baz]");
}

TEST_F(CtcpTest, EchoNeverDoublesTheDelimiterAndRepliesFit) {
    Request("bob",
            "\x01"
            "ECHO hello\x01");
    EXPECT_EQ(sent.back(),
              "NOTICE bob :\x01"
              "ECHO hello\x01");
    Request("amy",
            "\x01"
            "ECHO a\x01\x01\x01 b");
    EXPECT_EQ(sent.back(),
              "NOTICE amy :\x01"
              "ECHO a\x01");
    now_ms += 20000;
    Request("cat",
            "\x01"
            "ECHO " +
                std::string(600, 'e') + "\x01");
    EXPECT_LE(sent.back().size() + 2, 512u);
    EXPECT_EQ(sent.back().back(), '\x01');
    // A multi-byte character is never cut in half.
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += "\xc3\xa9";
    Request("dan", "\x01PING " + wide + "\x01");
    std::string body = sent.back().substr(sent.back().find(' ', 12) + 1);
    body.pop_back();
    EXPECT_EQ(body.size() % 2, 0u);
    EXPECT_LE(sent.back().size() + 2, 512u);
}

TEST_F(CtcpTest, AutomaticRepliesAreLimited) {
    for (int i = 0; i < 5; ++i) Request("bob", "\x01VERSION\x01");
    EXPECT_EQ(sent.size(), 3u);  // 3 per sender in 5 seconds
    for (std::string who : {"u0", "u1", "u2", "u3", "u4"}) Request(who, "\x01VERSION\x01");
    EXPECT_EQ(sent.size(), 6u);  // 6 in all in 10 seconds
    now_ms += 5000;
    Request("amy", "\x01VERSION\x01");
    EXPECT_EQ(sent.size(), 6u);
    now_ms += 5000;
    Request("amy", "\x01VERSION\x01");
    EXPECT_EQ(sent.size(), 7u);
    // The reports still show every request.
    EXPECT_EQ(printed.back().text, "[amy VERSION]");
}

TEST_F(CtcpTest, ActionsAndSounds) {
    Join("#c");
    auto out = Request("bob",
                       "\x01"
                       "ACTION waves\x01");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].window, "bob");
    EXPECT_EQ(out[0].text, "* bob waves");
    EXPECT_EQ(out[0].colour, 5);
    out =
        Feed({":bob!u@h PRIVMSG #c :\x01"
              "ACTION dances\x01"});
    EXPECT_EQ(out.back().window, "#c");
    EXPECT_EQ(out.back().text, "* bob dances");
    EXPECT_TRUE(Request("bob",
                        "\x01"
                        "ACTION\x01")
                    .empty());
    EXPECT_TRUE(Feed({":bob!u@h PRIVMSG #gone :\x01"
                      "ACTION x\x01"})
                    .empty());

    std::vector<std::string> played;
    Sounds().play = [&](const std::string& path) {
        played.push_back(path);
        return true;
    };
    char folder[] = "/tmp/vesk-sounds-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    Sounds().folder = std::string(folder) + "/";
    std::string ok = Sounds().folder + "ding.wav";
    std::FILE* f = std::fopen(ok.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    Options().esounds = 1;
    Options().dwse = 1;
    Options().insr = 0;
    out = Request("bob", "\x01SOUND ding.wav hear this\x01");
    EXPECT_EQ(played, (std::vector<std::string>{ok}));
    EXPECT_EQ(out.back().text, "* bob hear this");
    out = Request("bob", "\x01SOUND missing.wav\x01");
    EXPECT_EQ(out.front().text, "*** Requested sound [missing.wav] doesn't exist");
    EXPECT_EQ(out.back().text, "[bob SOUND]");
    for (const char* bad :
         {"../ding.wav", "/etc/passwd", "a/../../x", "..", ".hidden", "-option", "sub\\x.wav"})
        Request("bob", std::string("\x01SOUND ") + bad + "\x01");
    EXPECT_EQ(played.size(), 1u);
    EXPECT_FALSE(IsSafeSoundName("a/b"));
    EXPECT_TRUE(IsSafeSoundName("ding.wav"));
    std::remove(ok.c_str());
    ::rmdir(folder);
    Sounds() = SoundSettings{};
}

TEST_F(CtcpTest, DccOffersGoToOneEntryPoint) {
    auto out = Request("bob",
                       "\x01"
                       "DCC SEND file.txt 2130706433 5000 10\x01");
    EXPECT_EQ(sent.back(), "NOTICE bob :DCC SEND refused: DCC is not available");
    EXPECT_EQ(out.front().text, "*** DCC SEND request from bob refused (DCC is not available)");
    std::string seen;
    SetDccOfferHandler([&](std::string_view nick, std::string_view, std::string_view text) {
        seen = std::string(nick) + ":" + std::string(text);
    });
    Request("amy",
            "\x01"
            "DCC CHAT chat 2130706433 5001\x01");
    EXPECT_EQ(seen,
              "amy:\x01"
              "DCC CHAT chat 2130706433 5001\x01");
    SetDccOfferHandler(nullptr);
}

TEST_F(CtcpTest, ScriptsMayTakeRequestsButNotVersion) {
    Options().lfc = 1;
    int offered = 0;
    Hooks().ctcp = [&](const CurrentEvent&) {
        ++offered;
        return true;
    };
    Request("bob", "\x01VERSION\x01");
    EXPECT_EQ(sent.size(), 1u);
    Request("amy", "\x01PING 5\x01");
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(offered, 2);
    Hooks() = EventHooks{};
}

TEST_F(CtcpTest, CtcpRepliesAreShown) {
    std::string win;
    EXPECT_EQ(One(":bob!b@h NOTICE me :\x01PING " + std::to_string(wall - 3) + "\x01", &win),
              "[bob PING reply]: 3 secs");
    EXPECT_EQ(win, "Status Window");
    EXPECT_EQ(One(":bob!b@h NOTICE me :\x01PING x\x01"), "[bob PING reply]");
    EXPECT_EQ(One(":bob!b@h NOTICE me :\x01VERSION other client 1.0\x01"),
              "[bob VERSION reply]: other client 1.0");
    EXPECT_EQ(One(":bob!b@h NOTICE me :\x01TROUT\x01"), "[bob TROUT reply]");
}

}  // namespace
}  // namespace chat
