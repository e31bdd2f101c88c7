#include "platform/net.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop_test_util.h"

namespace platform::net {
namespace {

using platform::testing::PumpFor;
using platform::testing::PumpUntil;
using platform::testing::RecordingWindow;

constexpr UINT kServerMsg = WM_USER + 37;
constexpr UINT kClientMsg = WM_USER + 36;
constexpr UINT kLookupMsg = WM_USER + 35;

class NetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEventLoop();
        ResetNet();
        window = RecordingWindow(log);
    }
    void TearDown() override {
        ResetNet();
        ResetEventLoop();
    }

    size_t Count(Socket s, UINT msg, uint16_t event) const {
        size_t n = 0;
        for (const MSG& m : log) {
            n +=
                m.wParam == static_cast<WPARAM>(s) && m.message == msg && LOWORD(m.lParam) == event;
        }
        return n;
    }
    bool WaitEvent(Socket s, UINT msg, uint16_t event, size_t count = 1) {
        return PumpUntil([&] { return Count(s, msg, event) >= count; });
    }
    // The error word of the first event of that kind.
    int ErrorOf(Socket s, UINT msg, uint16_t event) const {
        for (const MSG& m : log) {
            if (m.wParam == static_cast<WPARAM>(s) && m.message == msg &&
                LOWORD(m.lParam) == event) {
                return HIWORD(m.lParam);
            }
        }
        return -1;
    }

    // A listener on host, a client connected to it and the accepted server side.
    struct Pair {
        Socket listener = kNoSocket, client = kNoSocket, server = kNoSocket;
    };
    Pair Connected(const std::string& host,
                   uint16_t client_events = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) {
        Pair p;
        auto at = ParseAddress(host, 0);
        EXPECT_TRUE(at);
        p.listener = Listen(*at, window, kServerMsg);
        if (p.listener == kNoSocket) return p;
        auto bound = LocalAddress(p.listener);
        EXPECT_TRUE(bound);
        p.client = Connect(*bound, window, kClientMsg, client_events);
        EXPECT_NE(p.client, kNoSocket);
        EXPECT_TRUE(WaitEvent(p.listener, kServerMsg, FD_ACCEPT));
        Address peer;
        p.server = Accept(p.listener, window, kServerMsg, &peer);
        EXPECT_NE(p.server, kNoSocket);
        EXPECT_EQ(AddressHost(peer), AddressHost(*at));
        EXPECT_TRUE(WaitEvent(p.client, kClientMsg, FD_CONNECT));
        EXPECT_EQ(ErrorOf(p.client, kClientMsg, FD_CONNECT), 0);
        return p;
    }

    std::string ReadAll(Socket s) {
        std::string out;
        char buf[65536];
        ptrdiff_t n;
        while ((n = Read(s, buf)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }

    std::vector<MSG> log;
    HWND window = 0;
};

TEST_F(NetTest, AddressesParseAndPrint) {
    auto v4 = ParseAddress("127.0.0.1", 6667);
    ASSERT_TRUE(v4);
    EXPECT_EQ(AddressHost(*v4), "127.0.0.1");
    EXPECT_EQ(AddressPort(*v4), 6667);
    EXPECT_EQ(AddressIPv4(*v4), 0x7F000001u);
    SetAddressPort(*v4, 113);
    EXPECT_EQ(AddressPort(*v4), 113);

    auto v6 = ParseAddress("[::1]", 1);
    ASSERT_TRUE(v6);
    EXPECT_EQ(AddressHost(*v6), "::1");
    EXPECT_EQ(AddressIPv4(*v6), 0u);
    auto mapped = ParseAddress("::ffff:10.1.2.3", 0);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(AddressIPv4(*mapped), 0x0A010203u);

    for (const char* bad : {"", "localhost", "1.2.3.4.5", "::1::2", "[", "999.1.1.1"}) {
        EXPECT_FALSE(ParseAddress(bad, 1)) << bad;
    }
    EXPECT_EQ(AddressHost(Address{}), "");
}

TEST_F(NetTest, LoopbackConnectAcceptAndExchange) {
    Pair p = Connected("127.0.0.1");
    ASSERT_NE(p.server, kNoSocket);
    // Both ends get one FD_WRITE after connecting, the client's after its FD_CONNECT.
    ASSERT_TRUE(WaitEvent(p.client, kClientMsg, FD_WRITE));
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_WRITE));
    EXPECT_EQ(AddressPort(*PeerAddress(p.client)), AddressPort(*LocalAddress(p.listener)));

    ASSERT_EQ(Write(p.client, std::string_view("hello ")), 6);
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_READ));
    // More data before the program read: no second FD_READ until it calls Read.
    ASSERT_EQ(Write(p.client, std::string_view("world")), 5);
    PumpFor(50);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_READ), 1u);
    char two[2];
    ASSERT_EQ(Read(p.server, two), 2);
    // Unread data remains: FD_READ comes again.
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_READ, 2));
    EXPECT_EQ(ReadAll(p.server), "llo world");
    PumpFor(30);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_READ), 2u);
    // Nothing waiting: a read would block.
    EXPECT_EQ(Read(p.server, two), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(Count(p.client, kClientMsg, FD_WRITE), 1u);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_CLOSE), 0u);
}

TEST_F(NetTest, PeerCloseComesAfterTheDataWasRead) {
    Pair p = Connected("127.0.0.1");
    ASSERT_NE(p.server, kNoSocket);
    ASSERT_EQ(Write(p.client, std::string_view("last words")), 10);
    Close(p.client);
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_READ));
    PumpFor(50);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_CLOSE), 0u);  // data still unread
    EXPECT_EQ(ReadAll(p.server), "last words");
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_CLOSE));
    EXPECT_EQ(ErrorOf(p.server, kServerMsg, FD_CLOSE), 0);
    char c;
    EXPECT_EQ(Read(p.server, std::span<char>(&c, 1)), 0);
    PumpFor(30);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_CLOSE), 1u);
    // Writing to a closed peer is an error, not a SIGPIPE that ends the test program.
    ptrdiff_t n = 0;
    for (int i = 0; i < 100 && n >= 0; ++i) n = Write(p.server, std::string_view("x"));
    EXPECT_EQ(n, -1);
}

TEST_F(NetTest, CloseWithoutReadSelectionStillReportsTheEnd) {
    Pair p = Connected("127.0.0.1", FD_CONNECT | FD_CLOSE);
    ASSERT_NE(p.server, kNoSocket);
    ASSERT_EQ(Write(p.server, std::string_view("unread")), 6);
    PumpFor(30);
    Close(p.server);
    ASSERT_TRUE(WaitEvent(p.client, kClientMsg, FD_CLOSE));
    EXPECT_EQ(Count(p.client, kClientMsg, FD_READ), 0u);
    EXPECT_EQ(Count(p.client, kClientMsg, FD_WRITE), 0u);
}

TEST_F(NetTest, RefusedConnectIsReportedThroughFdConnect) {
    auto at = ParseAddress("127.0.0.1", 0);
    Socket l = Listen(*at, window, kServerMsg);
    ASSERT_NE(l, kNoSocket);
    Address closed = *LocalAddress(l);
    Close(l);  // nobody listens on that port now
    Socket c = Connect(closed, window, kClientMsg);
    ASSERT_NE(c, kNoSocket);
    ASSERT_TRUE(WaitEvent(c, kClientMsg, FD_CONNECT));
    EXPECT_EQ(ErrorOf(c, kClientMsg, FD_CONNECT), ECONNREFUSED);
    PumpFor(30);
    EXPECT_EQ(log.size(), 1u);  // nothing else follows a failed connect
    Close(c);
}

TEST_F(NetTest, WriteThatWouldBlockCompletesAfterFdWrite) {
    Pair p = Connected("127.0.0.1", FD_CONNECT | FD_WRITE | FD_CLOSE);
    ASSERT_NE(p.server, kNoSocket);
    ASSERT_TRUE(WaitEvent(p.client, kClientMsg, FD_WRITE));
    // Fill the socket buffers while the server does not read.
    std::string chunk(1 << 16, 'z');
    size_t sent = 0;
    ptrdiff_t n = 0;
    while (sent < (size_t{256} << 20) && (n = Write(p.client, chunk)) > 0) sent += n;
    ASSERT_EQ(n, -1);
    ASSERT_EQ(errno, EWOULDBLOCK);
    PumpFor(30);
    EXPECT_EQ(Count(p.client, kClientMsg, FD_WRITE), 1u);

    // Drain on the server; the client is told it may write again, and the rest goes through.
    std::string tail = "the end";
    size_t received = 0;
    bool tail_sent = false;
    ASSERT_TRUE(PumpUntil(
        [&] {
            received += ReadAll(p.server).size();
            if (!tail_sent && Count(p.client, kClientMsg, FD_WRITE) >= 2) {
                tail_sent = Write(p.client, tail) == static_cast<ptrdiff_t>(tail.size());
            }
            return tail_sent && received == sent + tail.size();
        },
        5000));
}

TEST_F(NetTest, CloseWithdrawsQueuedMessages) {
    Pair p = Connected("127.0.0.1");
    ASSERT_NE(p.server, kNoSocket);
    PumpFor(20);
    log.clear();
    ASSERT_EQ(Write(p.client, std::string_view("data")), 4);
    // Let the loop see the data and queue FD_READ, but do not dispatch it.
    MSG msg;
    uint64_t end = MonotonicMs() + 1000;
    while (!PeekMessage(msg, false) && MonotonicMs() < end) usleep(1000);
    ASSERT_EQ(msg.wParam, static_cast<WPARAM>(p.server));
    Close(p.server);
    Close(p.client);
    PumpFor(30);
    EXPECT_TRUE(log.empty());
    // A number that is no socket of ours is left alone.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    UniqueFd a(fds[0]), b(fds[1]);
    Close(fds[0]);
    EXPECT_EQ(write(b.get(), "x", 1), 1);
    char c;
    EXPECT_EQ(read(a.get(), &c, 1), 1);
}

TEST_F(NetTest, SelectChangesTargetAndReportsWaitingData) {
    Pair p = Connected("127.0.0.1");
    ASSERT_NE(p.server, kNoSocket);
    ASSERT_TRUE(Select(p.server, window, kServerMsg, 0));
    ASSERT_EQ(Write(p.client, std::string_view("ping")), 4);
    PumpFor(30);
    EXPECT_EQ(Count(p.server, kServerMsg, FD_READ), 0u);
    ASSERT_TRUE(Select(p.server, window, kServerMsg + 1, FD_READ | FD_CLOSE));
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg + 1, FD_READ));
    EXPECT_FALSE(Select(kNoSocket, window, kServerMsg, FD_READ));
}

TEST_F(NetTest, SocketsWaitingOnTheProgramCostNoCpu) {
    // An unanswered FD_READ, a peer that has gone, a listener with a peer not yet accepted
    // and an idle connection: none of them may keep poll() returning.
    Pair p = Connected("127.0.0.1");
    ASSERT_NE(p.server, kNoSocket);
    Pair idle = Connected("127.0.0.1");
    ASSERT_NE(idle.server, kNoSocket);
    ASSERT_EQ(Write(p.client, std::string_view("unanswered")), 10);
    Close(p.client);
    Connect(*LocalAddress(p.listener), window, kClientMsg);
    ASSERT_TRUE(WaitEvent(p.listener, kServerMsg, FD_ACCEPT, 2));
    ASSERT_TRUE(WaitEvent(p.server, kServerMsg, FD_READ));
    PumpFor(20);
    size_t messages = log.size();
    double before = platform::testing::ThreadCpuMs();
    PumpFor(300);
    EXPECT_LT(platform::testing::ThreadCpuMs() - before, 15.0);
    EXPECT_EQ(log.size(), messages);
    EXPECT_EQ(ReadAll(p.server), "unanswered");
    EXPECT_TRUE(WaitEvent(p.server, kServerMsg, FD_CLOSE));
}

TEST_F(NetTest, IPv6Loopback) {
    auto at = ParseAddress("::1", 0);
    ASSERT_TRUE(at);
    Socket probe = Listen(*at, window, kServerMsg);
    if (probe == kNoSocket) GTEST_SKIP() << "::1 is not available: " << strerror(errno);
    Close(probe);
    Pair p = Connected("::1");
    ASSERT_NE(p.server, kNoSocket);
    ASSERT_EQ(Write(p.server, std::string_view("six")), 3);
    ASSERT_TRUE(WaitEvent(p.client, kClientMsg, FD_READ));
    EXPECT_EQ(ReadAll(p.client), "six");
    EXPECT_EQ(AddressHost(*PeerAddress(p.client)), "::1");
}

TEST_F(NetTest, LookupsPostTheirResult) {
    uint32_t good = Lookup("localhost", window, kLookupMsg);
    uint32_t bad = Lookup("no-such-host.invalid", window, kLookupMsg);
    uint32_t empty = Lookup("", window, kLookupMsg);
    uint32_t reverse = ReverseLookup(*ParseAddress("127.0.0.1", 0), window, kLookupMsg);
    ASSERT_NE(good, 0u);
    EXPECT_NE(good, bad);
    ASSERT_TRUE(PumpUntil([&] { return log.size() >= 4; }, 10000));

    for (const MSG& m : log) {
        EXPECT_EQ(m.message, kLookupMsg);
        auto result = TakeLookup(static_cast<uint32_t>(m.wParam));
        ASSERT_TRUE(result);
        EXPECT_EQ(HIWORD(m.lParam), result->error != 0 ? 1 : 0);
        if (m.wParam == good) {
            ASSERT_EQ(result->error, 0) << gai_strerror(result->error);
            ASSERT_FALSE(result->addresses.empty());
            std::string host = AddressHost(result->addresses[0]);
            EXPECT_TRUE(host == "127.0.0.1" || host == "::1") << host;
        } else if (m.wParam == reverse) {
            EXPECT_TRUE(result->error != 0 || !result->canonical_name.empty());
        } else {
            EXPECT_NE(result->error, 0);
            EXPECT_TRUE(result->addresses.empty());
        }
        EXPECT_FALSE(TakeLookup(static_cast<uint32_t>(m.wParam)));  // taken once
    }
    EXPECT_FALSE(TakeLookup(0));
    (void)empty;
}

}  // namespace
}  // namespace platform::net
