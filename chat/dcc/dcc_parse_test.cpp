#include "chat/dcc/dcc_parse.h"

#include <gtest/gtest.h>

#include <tuple>

namespace chat::dcc {
namespace {

TEST(DccParse, PassiveTokens) {
    // name, whether the request is complete, the token taken (empty: none)
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"\x01"
         "DCC SEND f.bin 16843009 0 500 77\x01",
         true, "77"},
        {"\x01"
         "DCC SEND f.bin 2130706433 4000 500 77\x01",
         true, "77"},  // the answer to ours
        {"\x01"
         "DCC SEND \"a b\" ::1 0 500 4294967295\x01",
         true, "4294967295"},
        {"\x01"
         "DCC SEND f.bin 16843009 0 500\x01",
         true, ""},
        {"\x01"
         "DCC SEND f.bin 16843009 0 500 4294967296\x01",
         true, ""},  // too large: none
        {"\x01"
         "DCC SEND f.bin 16843009 0 500 7x\x01",
         true, ""},
        {"\x01"
         "DCC SEND f.bin 16843009 0 500 -1\x01",
         true, ""},
        {"\x01"
         "DCC CHAT chat 16843009 0 77\x01",
         true, ""},  // chats have no token
    };
    for (const auto& [text, complete, token] : cases) {
        SCOPED_TRACE(text);
        auto r = ParseRequest(text);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->complete, complete);
        EXPECT_EQ(r->token, token);
    }
    // Port 0 stays refused by the reach check: a passive offer is taken apart from it.
    EXPECT_EQ(CheckReach(16843009u, 0), Reach::kRefused);
}

TEST(DccParse, RequestsAsTheyArrive) {
    struct Case {
        std::string text;
        RequestKind kind;
        bool complete;
        std::string name;
        uint32_t address;
        int port;
        uint64_t size;
        uint64_t position;
    };
    const Case cases[] = {
        {"\x01"
         "DCC SEND \"my file.txt\" 3232235777 1024 500\x01",
         RequestKind::kSend, true, "my file.txt", 3232235777u, 1024, 500, 0},
        {"\x01"
         "dcc send a.zip 2130706433 5000\x01",
         RequestKind::kSend, true, "a.zip", 2130706433u, 5000, 0, 0},
        // Sizes past 4 GiB are kept whole.
        {"\x01"
         "DCC SEND big.iso 2130706433 5000 6442450944\x01",
         RequestKind::kSend, true, "big.iso", 2130706433u, 5000, 6442450944ull, 0},
        {"\x01"
         "DCC CHAT chat 2130706433 40000\x01",
         RequestKind::kChat, true, "chat", 2130706433u, 40000, 0, 0},
        {"\x01"
         "DCC RESUME file.ext 5000 1000\x01",
         RequestKind::kResume, true, "file.ext", 0, 5000, 0, 1000},
        {"\x01"
         "DCC ACCEPT 5000 1000\x01",
         RequestKind::kAccept, true, "", 0, 5000, 0, 1000},
        {"\x01"
         "DCC ACCEPT \"a b.txt\" 5000 7\x01",
         RequestKind::kAccept, true, "a b.txt", 0, 5000, 0, 7},
        // Missing, malformed and out-of-range numbers.
        {"\x01"
         "DCC SEND a.zip 2130706433\x01",
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC SEND a.zip ::1::2 5000 10\x01",  // IPv6 text is taken; a malformed one is not
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC SEND a.zip 4294967296 5000 10\x01",
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC SEND a.zip 2130706433 65536 10\x01",
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC SEND a.zip 2130706433 -5 10\x01",
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC SEND \"open 2130706433 5000\x01",
         RequestKind::kSend, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC CHAT chat 2130706433\x01",
         RequestKind::kChat, false, "", 0, 0, 0, 0},
        {"\x01"
         "DCC RESUME 5000\x01",
         RequestKind::kResume, false, "", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseRequest(c.text);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->kind, c.kind);
        EXPECT_EQ(r->complete, c.complete);
        if (!c.complete) continue;
        EXPECT_EQ(r->name, c.name);
        EXPECT_EQ(r->address, c.address);
        EXPECT_EQ(r->port, c.port);
        EXPECT_EQ(r->size, c.size);
        EXPECT_EQ(r->position, c.position);
    }
    EXPECT_FALSE(
        ParseRequest("\x01"
                     "DCC FOO x\x01"));
    // Names longer than an offer may carry.
    EXPECT_FALSE(ParseRequest("\x01"
                              "DCC SEND " +
                              std::string(400, 'a') + " 2130706433 5000\x01")
                     ->complete);
}

TEST(DccParse, WhoMayBeReached) {
    struct Case {
        uint32_t address;
        int port;
        Reach reach;
    };
    const Case cases[] = {
        {0x5DB8D822u, 5000, Reach::kOk},        // 93.184.216.34
        {0, 5000, Reach::kRefused},             // 0.0.0.0
        {0xFFFFFFFFu, 5000, Reach::kRefused},   // broadcast
        {0xE0000001u, 5000, Reach::kRefused},   // multicast 224.0.0.1
        {0xEFFFFFFFu, 5000, Reach::kRefused},   // multicast 239.255.255.255
        {0x5DB8D822u, 1023, Reach::kRefused},   // a privileged port
        {0x5DB8D822u, 0, Reach::kRefused},      // a passive offer
        {0x7F000001u, 5000, Reach::kAskFirst},  // loopback
        {0xC0A80101u, 1024, Reach::kAskFirst},  // 192.168.1.1
        {0x0A000001u, 5000, Reach::kAskFirst},  // 10.0.0.1
        {0xAC100001u, 5000, Reach::kAskFirst},  // 172.16.0.1
        {0xAC200001u, 5000, Reach::kOk},        // 172.32.0.1 is public
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(AddressText(c.address) + ":" + std::to_string(c.port));
        EXPECT_EQ(CheckReach(c.address, c.port), c.reach);
    }
    EXPECT_EQ(AddressText(3232235777u), "192.168.1.1");
}

TEST(DccParse, IPv6OffersCarryTheAddressAsText) {
    struct Case {
        const char* text;
        bool complete;
        const char* host;
    };
    const Case cases[] = {
        {"\x01"
         "DCC SEND f.txt 2001:db8::5 5000 12\x01",
         true, "2001:db8::5"},
        {"\x01"
         "DCC CHAT chat ::1 5000\x01",
         true, "::1"},
        {"\x01"
         "DCC SEND f.txt 2130706433 5000 12\x01",
         true, "127.0.0.1"},
        // Malformed IPv6 texts leave the request incomplete.
        {"\x01"
         "DCC SEND f.txt 2001:db8:::5 5000 12\x01",
         false, ""},
        {"\x01"
         "DCC SEND f.txt ::g 5000 12\x01",
         false, ""},
        {"\x01"
         "DCC SEND f.txt 1:2:3:4:5:6:7:8:9 5000 12\x01",
         false, ""},
        {"\x01"
         "DCC CHAT chat :::::::::::::::::::::::::::::::::::::::::::::::::: 5000\x01",
         false, ""},
    };
    for (const Case& c : cases) {
        auto r = ParseRequest(c.text);
        ASSERT_TRUE(r) << c.text;
        EXPECT_EQ(r->complete, c.complete) << c.text;
        if (c.complete) {
            EXPECT_EQ(r->host, c.host) << c.text;
        }
    }
    const std::pair<const char*, Reach> reach[] = {
        {"2001:db8::5", Reach::kOk},
        {"::1", Reach::kAskFirst},
        {"fe80::1", Reach::kAskFirst},
        {"fd00::1", Reach::kAskFirst},
        {"::", Reach::kRefused},
        {"ff02::1", Reach::kRefused},
        {"::ffff:10.0.0.1", Reach::kAskFirst},
        {"::ffff:0.0.0.0", Reach::kRefused},
        {"8.8.8.8", Reach::kOk},
        {"not-an-address", Reach::kRefused},
    };
    for (auto [host, want] : reach) EXPECT_EQ(CheckHostReach(host, 5000), want) << host;
    EXPECT_EQ(CheckHostReach("2001:db8::5", 80), Reach::kRefused);
}

TEST(DccParse, ReceivedNamesStayInTheGetFolder) {
    const std::vector<std::string> protect = {"vesk.ini", "aliases.vsk"};
    struct Case {
        std::string offered;
        std::optional<std::string> stored;
    };
    const Case cases[] = {
        {"report.txt", "report.txt"},
        {"my file.txt", "my file.txt"},
        {"../x", "x"},
        {"..\\x", "x"},
        {"/etc/passwd", "passwd"},
        {"dir/sub/", std::nullopt},
        {"..", std::nullopt},
        {".", std::nullopt},
        {"", std::nullopt},
        {".bashrc", "_bashrc"},
        {"a\nb", std::nullopt},
        {std::string("a\0b", 3), std::nullopt},
        {"a\x1b[2Jb", std::nullopt},
        {"VESK.INI", std::nullopt},
        {"other.ini", std::nullopt},
        {"status.log", std::nullopt},
        {"Aliases.vsk", std::nullopt},
        {std::string(300, 'n'), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offered);
        EXPECT_EQ(SafeReceivedName(c.offered, protect), c.stored);
    }
}

TEST(DccParse, QuotedWords) {
    EXPECT_EQ(SplitQuoted("a \"b c\"  d", 8), (std::vector<std::string>{"a", "b c", "d"}));
    EXPECT_EQ(SplitQuoted("a b c", 2), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(SplitQuoted("a \"b c", 8));
    EXPECT_EQ(SplitQuoted("", 8), std::vector<std::string>{});
}

TEST(DccParse, OfferedNamesAndPacketSizes) {
    EXPECT_EQ(OfferedName("my file.txt", true), "my_file.txt");
    EXPECT_EQ(OfferedName("my file.txt", false), "\"my file.txt\"");
    EXPECT_EQ(OfferedName("plain.txt", false), "plain.txt");
    EXPECT_EQ(ClampPacket(100), 512);
    EXPECT_EQ(ClampPacket(2048), 2048);
    EXPECT_EQ(ClampPacket(100000), 4096);
}

TEST(DccParse, AcknowledgementsCountModulo4GiB) {
    auto a = AckBytes(0x0102030405ull);
    EXPECT_EQ(std::string(a.data(), 4), std::string("\x02\x03\x04\x05", 4));
    struct Case {
        uint32_t ack;
        uint64_t sent;
        bool covers;
        uint64_t count;
    };
    const uint64_t k4G = 1ull << 32;
    const Case cases[] = {
        {1000, 1000, true, 1000},
        {999, 1000, false, 999},
        {0, k4G, true, k4G},                            // exactly 4 GiB
        {0xFFFFFF00u, k4G + 0x10, false, k4G - 0x100},  // still behind across the wrap
        {5, k4G + 5, true, k4G + 5},
        {100, 6ull * k4G + 100, true, 6ull * k4G + 100},  // far past 4 GiB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.ack) + " of " + std::to_string(c.sent));
        EXPECT_EQ(AckCovers(c.ack, c.sent), c.covers);
        EXPECT_EQ(AckCount(c.ack, c.sent), c.count);
    }
}

TEST(DccParse, SplitAcknowledgementsAreGatheredAndEachIsChecked) {
    AckGatherer g;
    uint64_t acked = 0, wrong = 0;
    // One byte, then three: one whole acknowledgement.
    EXPECT_EQ(g.Check(std::string("\x00", 1), 5000, acked, wrong), AckVerdict::kNone);
    EXPECT_EQ(g.Check(std::string("\x00\x0b\xb8", 3), 5000, acked, wrong), AckVerdict::kAdvanced);
    EXPECT_EQ(acked, 3000u);
    // Two and a half acknowledgements in one read: the latest whole one counts.
    EXPECT_EQ(
        g.Check(std::string("\x00\x00\x0b\xb8\x00\x00\x0f\xa0\x00\x00", 10), 5000, acked, wrong),
        AckVerdict::kAdvanced);
    EXPECT_EQ(acked, 4000u);
    EXPECT_EQ(g.Check(std::string("\x13\x88", 2), 5000, acked, wrong), AckVerdict::kAdvanced);
    EXPECT_EQ(acked, 5000u);
    EXPECT_EQ(g.Check("", 5000, acked, wrong), AckVerdict::kNone);

    // Past what was sent, or back from what was said: a wrong one anywhere in the read stops
    // it, even when a sound one follows.
    struct Case {
        std::string bytes;
        uint64_t sent, acked_before, acked_after, wrong;
    } cases[] = {
        {std::string("\x00\x00\x13\x89", 4), 5000, 4000, 4000, 5001},
        {std::string("\x00\x00\x0b\xb8\x00\x00\x0f\xa0", 8), 5000, 3500, 3500, 3000},
        {std::string("\x00\x00\x13\x89\x00\x00\x13\x88", 8), 5000, 0, 0, 5001},
        {std::string("\x00\x00\x0f\xa0\x00\x00\x0b\xb8", 8), 5000, 0, 4000, 3000},
    };
    for (const Case& c : cases) {
        AckGatherer fresh;
        uint64_t a = c.acked_before, w = 0;
        EXPECT_EQ(fresh.Check(c.bytes, c.sent, a, w), AckVerdict::kWrong);
        EXPECT_EQ(a, c.acked_after);
        EXPECT_EQ(w, c.wrong);
    }
}

}  // namespace
}  // namespace chat::dcc
