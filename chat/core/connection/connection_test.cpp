#include "chat/core/connection/connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "chat/core/connection/loopback_listener.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        platform::net::ResetNet();
        ResetWindows();
        ResetOptions();
        ResetConnection();
        Frontend fe;
        fe.print_line = [this](WindowId, const std::string&, int, const std::string& text) {
            printed_.push_back(text);
        };
        InstallFrontend(fe);
        frame_ = platform::CreateWindow(
            [](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                ConnectionMessage(m, w, l);
                return platform::LRESULT{0};
            });
        Conn().frame = frame_;
        MakeNewWindow("Status Window", false);
        ChatOptions& o = Options();
        o.szNickName = "me";
        o.szUser = "Me";
        o.szEmail = "me@x";
        o.szHostName = "127.0.0.1";
        o.Port = listener_.port;
        o.linesep.clear();
    }
    void TearDown() override {
        if (server_ >= 0) ::close(server_);
        ResetConnection();
        ResetWindows();
        InstallFrontend(Frontend{});
    }
    template <typename Done>
    bool PumpUntil(Done done, uint64_t ms = 5000) {
        uint64_t deadline = platform::MonotonicMs() + ms;
        while (!done() && platform::MonotonicMs() < deadline) {
            platform::MSG msg;
            if (platform::PeekMessage(msg)) {
                platform::DispatchMessage(msg);
            } else {
                ::usleep(1000);
            }
        }
        return done();
    }
    void ConnectAndWelcome() {
        DoInitConnect(true);
        server_ = ::accept(listener_.fd, nullptr, nullptr);
        ASSERT_GE(server_, 0);
        ASSERT_TRUE(PumpUntil([] { return Conn().Sock != platform::net::kNoSocket; }));
        std::string hello = ":srv 001 me :hi\r\n";
        ASSERT_EQ(::write(server_, hello.data(), hello.size()), static_cast<ssize_t>(hello.size()));
        ASSERT_TRUE(PumpUntil([] { return Conn().Connected; }));
    }
    // Everything the server has received so far, after the logon lines.
    std::vector<std::string> Received() {
        PumpUntil([] { return false; }, 100);  // let queued writes go out
        std::string all;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(server_, buf, sizeof buf, MSG_DONTWAIT)) > 0) all.append(buf, n);
        std::vector<std::string> lines;
        size_t pos = 0;
        for (size_t lf; (lf = all.find("\r\n", pos)) != std::string::npos; pos = lf + 2)
            lines.push_back(all.substr(pos, lf - pos));
        return lines;
    }
    bool Printed(const std::string& text) {
        for (const std::string& p : printed_)
            if (p == text) return true;
        return false;
    }

    LoopbackListener listener_;
    int server_ = -1;
    platform::HWND frame_ = 0;
    std::vector<std::string> printed_;
};

TEST_F(ConnectionTest, FloodGuardPausesRemoteLinesOnlyAndResumes) {
    ConnectAndWelcome();
    Received();  // logon lines
    Connection& c = Conn();
    c.testflood = 1;
    c.floodlines = 3;
    c.floodtime = 2;
    c.floodpause = 2;
    for (const char* l : {"NOTICE a :r1", "NOTICE a :r2", "NOTICE a :r3"}) Sendline(l, true);
    ConnectionTick();
    ConnectionTick();
    EXPECT_TRUE(Printed("*** Flood detected, pausing 2 seconds..."));
    EXPECT_TRUE(Sendline("NOTICE a :dropped", true));  // reported as done, never sent
    EXPECT_TRUE(Sendline("PONG :own", false));
    ConnectionTick();
    EXPECT_FALSE(Printed("*** Flood pause complete"));
    ConnectionTick();
    EXPECT_TRUE(Printed("*** Flood pause complete"));
    Sendline("NOTICE a :r4", true);
    EXPECT_EQ(Received(), (std::vector<std::string>{"NOTICE a :r1", "NOTICE a :r2", "NOTICE a :r3",
                                                    "PONG :own", "NOTICE a :r4"}));
}

TEST_F(ConnectionTest, LinesAreCutAtLineEndsAndNul) {
    ConnectAndWelcome();
    Received();
    Sendline("PRIVMSG a :one\r\nQUIT :injected", false);
    Sendline(std::string("PRIVMSG a :two\0QUIT", 19), false);
    Sendline("PRIVMSG a :three\n", false);
    EXPECT_EQ(Received(),
              (std::vector<std::string>{"PRIVMSG a :one", "PRIVMSG a :two", "PRIVMSG a :three"}));
}

TEST_F(ConnectionTest, AttemptTimesOutWithRetriesOff) {
    Options().rtc = 0;
    Options().rtod = 2;
    DoInitConnect(true);
    ASSERT_TRUE(PumpUntil([] { return Conn().Sock != platform::net::kNoSocket; }));
    ConnectionTick();
    EXPECT_TRUE(Conn().Connecting);
    ConnectionTick();
    EXPECT_FALSE(Conn().Connecting);
    EXPECT_TRUE(Printed("*** Connection attempt timed out..."));
    EXPECT_EQ(Conn().Sock, platform::net::kNoSocket);
}

TEST_F(ConnectionTest, MissingIdentityIsReportedNotConnected) {
    Options().szNickName.clear();
    DoInitConnect(true);
    EXPECT_FALSE(Conn().Connecting);
    ASSERT_FALSE(printed_.empty());
    EXPECT_NE(printed_.back().find("missing: nickname"), std::string::npos);
}

TEST_F(ConnectionTest, LocalHostLookupReportsFailureAndStillConnects) {
    struct Case {
        int ipmethod;
        std::string host, failure;
        std::string local_line_prefix;
    };
    const Case cases[] = {
        // The datagram probe finds the address without any look-up.
        {1, "", "", "Local host: "},
        // A name that does not resolve: said, and the connect goes on without an address.
        {0, "no-such-host.invalid", "*** Unable to resolve local host",
         "Local host: no-such-host.invalid"},
        {0, "localhost", "", "Local host: localhost (127.0.0.1)"},
    };
    for (const Case& c : cases) {
        ResetConnection();
        Conn().frame = frame_;
        printed_.clear();
        ChatOptions& o = Options();
        o.ipmethod = c.ipmethod;
        o.aglh = 0;
        o.agip = 1;
        o.sip = 0;
        o.szsip.clear();
        o.szLocalHost = c.host;
        DoInitConnect(true);
        ASSERT_TRUE(PumpUntil([] { return Conn().Sock != platform::net::kNoSocket; })) << c.host;
        if (!c.failure.empty()) {
            EXPECT_TRUE(Printed(c.failure)) << c.host;
        } else {
            EXPECT_NE(Options().sip, 0u) << c.host;
        }
        bool shown = false;
        for (const std::string& p : printed_) shown = shown || p.rfind(c.local_line_prefix, 0) == 0;
        EXPECT_TRUE(shown) << c.host;
        int accepted = ::accept(listener_.fd, nullptr, nullptr);
        if (accepted >= 0) ::close(accepted);
        werr("");
    }
}

TEST_F(ConnectionTest, TheNextLogonUsesTheSessionsOwnNick) {
    Conn().main_nick = "renamed";
    DoInitConnect(true);
    server_ = ::accept(listener_.fd, nullptr, nullptr);
    ASSERT_GE(server_, 0);
    ASSERT_TRUE(PumpUntil([] { return Conn().Sock != platform::net::kNoSocket; }));
    auto lines = Received();
    // Capabilities are asked for first, then the logon proper.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "CAP LS 302");
    EXPECT_EQ(lines[1], "NICK renamed");
    EXPECT_EQ(Options().szNickName, "me");
}

}  // namespace
}  // namespace chat
