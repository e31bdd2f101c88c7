#include "chat/core/session/nick_list.h"

#include <chrono>
#include <thread>

#include "chat/core/session/server_parser_fixture.h"

namespace chat {
namespace {

std::vector<std::string> Texts(const NickList& list) {
    std::vector<std::string> out;
    for (const NickEntry& e : DisplayEntries(list)) out.push_back(e.text);
    return out;
}

TEST_F(ParserTest, StatusOperationsOfUser) {
    WindowId chan = Join("#c");
    int slot = findhwnd(chan);
    EXPECT_EQ(user("amy", slot, 1, kPlain), kPlain);
    EXPECT_EQ(user("  bob trailing words", slot, 1, kOperator), kOperator);
    EXPECT_EQ(user("bob", slot, 1, kVoiced), kVoiced);  // an operator stays one
    EXPECT_EQ(user("bob", slot, 2, 0), kOperator);
    EXPECT_EQ(user("amy", slot, 1, kVoiced), kVoiced);
    EXPECT_EQ(user("amy", slot, 1, kRemoveVoice), kRemoveVoice);
    EXPECT_EQ(user("amy", slot, 2, 0), kPlain);
    EXPECT_EQ(user("@+cat", slot, 1, 0), kOperator);  // multi-prefix NAMES entry
    EXPECT_EQ(user("dan!d@host", slot, 1, 0), kPlain);
    EXPECT_EQ(Texts(ChannelOf(chan).nicks),
              (std::vector<std::string>{"@bob", "@cat", "amy", "dan"}));
    EXPECT_EQ(user("bob", slot, 0, 0), kOperator);
    EXPECT_EQ(user("bob", slot, 0, 0), kNotListed);
    EXPECT_EQ(user("", slot, 1, kPlain), 0);
    EXPECT_EQ(user(std::string(96, 'x'), slot, 1, kPlain), 0);
    EXPECT_EQ(user("amy", findhwnd(StatusWindow()), 2, 0), 0);  // no list there
    EXPECT_EQ(user("amy", -1, 2, 0), 0);
    EXPECT_EQ(user("amy", kMaxWindows, 2, 0), 0);
}

TEST_F(ParserTest, OrderFollowsTheAnnouncedMarks) {
    NickList list;
    for (auto [nick, mark] : std::vector<std::pair<std::string, char>>{{"zed", 0},
                                                                       {"Amy", '+'},
                                                                       {"bob", '@'},
                                                                       {"Cat", '%'},
                                                                       {"al", '@'},
                                                                       {"Ben", 0},
                                                                       {"q", '~'}})
        SetMember(list, nick, mark);
    EXPECT_EQ(Texts(list),
              (std::vector<std::string>{"~q", "@al", "@bob", "%Cat", "+Amy", "Ben", "zed"}));
    // A server that ranks voice above operator (odd, but its choice) reorders the groups.
    Session().prefix_chars = "+@";
    Session().prefix_modes = "vo";
    ResortMembers(list);
    EXPECT_EQ(Texts(list).front(), "+Amy");
    EXPECT_TRUE(RenameMember(list, "AMY", "amelia"));
    EXPECT_EQ(Texts(list).front(), "+amelia");
    EXPECT_FALSE(RenameMember(list, "nobody", "x"));
    EXPECT_FALSE(RenameMember(list, "zed", "bad name"));
}

TEST_F(ParserTest, FrontEndHearsOnceForABatch) {
    int calls = 0;
    size_t last = 0;
    Frontend fe = CurrentFrontend();
    fe.nicklist_changed = [&](WindowId, const std::vector<NickEntry>& n) {
        ++calls;
        last = n.size();
    };
    InstallFrontend(fe);
    Join("#c");
    for (int i = 0; i < 100; ++i) parseline(":u" + std::to_string(i) + "!x@h JOIN #c");
    EXPECT_EQ(calls, 0);
    platform::MSG msg;
    while (platform::PeekMessage(msg)) platform::DispatchMessage(msg);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(last, 100u);
}

// A big list that keeps changing reaches the front end a few times a second, not once per
// read: each update hands over the whole list. The last state always arrives.
TEST_F(ParserTest, BigListUpdatesAreSpacedAndTheLastOneArrives) {
    std::vector<size_t> sizes;
    Frontend fe = CurrentFrontend();
    fe.nicklist_changed = [&](WindowId, const std::vector<NickEntry>& n) {
        sizes.push_back(n.size());
    };
    InstallFrontend(fe);
    WindowId chan = Join("#big");
    int slot = findhwnd(chan);
    for (int i = 0; i < 10000; ++i) user("m" + std::to_string(i), slot, 1, kPlain);
    platform::MSG msg;
    auto pump = [&] {
        while (platform::PeekMessage(msg)) platform::DispatchMessage(msg);
    };
    pump();
    ASSERT_EQ(sizes, std::vector<size_t>{10000});
    parseline(":m1!x@h PART #big");
    pump();
    parseline(":m2!x@h QUIT :gone");
    pump();
    EXPECT_EQ(sizes.size(), 1u);  // too soon after handing over 10,000 entries
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sizes.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pump();
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{10000, 9998}));

    // A small list afterwards waits no longer than the big one's spacing, then goes at once.
    ClearMembers(ChannelOf(chan).nicks);
    MarkNickListChanged(chan);
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sizes.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pump();
    }
    user("solo", slot, 1, kPlain);
    pump();
    EXPECT_EQ(sizes, (std::vector<size_t>{10000, 9998, 0, 1}));
}

}  // namespace
}  // namespace chat
