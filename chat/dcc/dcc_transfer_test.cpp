#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "chat/core/frame.h"
#include "chat/core/options.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_state.h"
#include "chat/dcc/dcc_test_support.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"
#include "platform/event_loop.h"
#include "platform/net.h"

namespace chat::dcc {
namespace {

std::string Contents(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

// A plain socket of the test playing the other client.
struct Peer {
    int fd = -1;
    ~Peer() {
        if (fd >= 0) ::close(fd);
    }
    bool Connect(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        return ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
    }
    void Send(std::string_view text) const {
        ASSERT_EQ(::send(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    }
    // What has arrived, without waiting; `closed` tells of the other end's close.
    std::string Take(bool* closed = nullptr) const {
        std::string out;
        char buf[4096];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (closed) *closed = n == 0;
            return out;
        }
    }
};

class DccTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartDccTest();
        char tmpl[] = "/tmp/dcc-transfer-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ::mkdir((dir + "/get").c_str(), 0700);
        std::ofstream(dir + "/vesk.ini") << "[Dirs]\ngetdir=" << dir << "/get\n";
        Options().szINI = dir + "/vesk.ini";
        // Our own offers and answers come straight back as the peer's requests, so that both
        // ends of a transfer are this process.
        Session().send = [this](std::string_view line, bool) {
            sent.emplace_back(line);
            size_t at = line.find('\x01');
            if (at != std::string_view::npos && line.substr(0, 8) == "PRIVMSG " &&
                line.find("DCC CHAT") == std::string_view::npos)
                requests.emplace_back(line.substr(at));
        };
        InstallDcc();
        // What the frame does when a window closes.
        Windows().on_close = [](const WindowRecord& r) {
            for (const auto& closing : Frame().window_closing) closing(r.window);
        };
    }
    void TearDown() override {
        EndDccTest();
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Runs the event loop (handing our requests back) until `done` or five seconds.
    bool Pump(const std::function<bool()>& done) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            platform::PumpMessages();
            std::vector<std::string> now;
            now.swap(requests);
            for (const std::string& r : now) HandleRequest("peer", r);
            ::usleep(200);
        }
        return true;
    }
    // Runs the event loop a little while, for things that must not happen.
    void Settle() {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        Pump([end] { return std::chrono::steady_clock::now() > end; });
    }
    std::string File(const std::string& name, const std::string& data) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    bool Printed(WindowId w, const std::string& part) {
        const WindowRecord* r = RecordOf(w);
        if (!r) return false;
        for (const auto& line : r->buffer)
            if (line.text.find(part) != std::string::npos) return true;
        return false;
    }
    bool Idle() {
        for (int i = 0; i < kSlots; ++i)
            if (Dcc().sends[i].state != 0 || Dcc().gets[i].state != 0) return false;
        return true;
    }
    // Offers a file to "peer" (ourselves) and accepts it: `answer` as for AcceptGet.
    int SendToSelf(const std::string& path, int answer) {
        if (!StartSend("peer", path, false)) return -1;
        Pump([this] { return requests.empty(); });
        for (int i = 0; i < kSlots; ++i)
            if (Dcc().gets[i].state == 1) {
                AcceptGet(i, answer, "");
                return i;
            }
        return -1;
    }
    // The port of our latest offer, as the peer would read it.
    int ListeningPort() {
        for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
            bool file = it->find("DCC SEND ") != std::string::npos;
            if (!file && it->find("DCC CHAT ") == std::string::npos) continue;
            std::string words = it->substr(0, it->rfind('\x01'));
            if (file) words = words.substr(0, words.rfind(' '));
            return std::stoi(words.substr(words.rfind(' ') + 1));
        }
        return 0;
    }
    std::string dir;
    std::vector<std::string> sent, requests;
};

TEST_F(DccTransferTest, FilesArriveWholeInEveryMode) {
    struct Mode {
        int packet;
        bool fast;
    };
    for (Mode m : {Mode{512, false}, Mode{4096, false}, Mode{512, true}, Mode{4096, true}}) {
        for (size_t size : {0u, 1u, 4095u, 4096u, 4097u, 300001u}) {
            SCOPED_TRACE(std::to_string(m.packet) + (m.fast ? " fast " : " ") +
                         std::to_string(size));
            Options().psize = m.packet;
            Options().fsend = m.fast;
            Options().spap = 0;
            std::string name =
                "f" + std::to_string(size) + (m.fast ? "f" : "a") + std::to_string(m.packet);
            std::string data = Pattern(size);
            int get = SendToSelf(File(name, data), 2);
            ASSERT_GE(get, 0);
            WindowId window = Dcc().gets[get].window;
            ASSERT_TRUE(Pump([this] { return Idle(); }));
            EXPECT_EQ(Contents(dir + "/get/" + name), data);
            EXPECT_TRUE(Printed(window, "DCC Get completed"));
            // The title's final value is exact however seldom it was rewritten.
            EXPECT_EQ(RecordOf(window)->topic, std::to_string(size));
            closewindow(window);
            closewindow(Dcc().sends[0].window);
        }
    }
}

TEST_F(DccTransferTest, AResumedGetCountsOnlyTheNewBytes) {
    std::string data = Pattern(3000);
    std::string path = File("r.bin", data);
    File("get/r.bin", data.substr(0, 1000));
    Options().spap = 1;
    int get = SendToSelf(path, 1);
    ASSERT_GE(get, 0);
    WindowId gw = Dcc().gets[get].window;
    WindowId sw = Dcc().sends[0].window;
    ASSERT_TRUE(Pump([this] { return Idle(); }));
    EXPECT_EQ(Contents(dir + "/get/r.bin"), data);
    EXPECT_TRUE(Printed(gw, "Requesting resume at 1000 bytes..."));
    EXPECT_TRUE(Printed(gw, "Received: 2000 bytes in"));
    EXPECT_TRUE(Printed(sw, "Resuming transfer at 1000 bytes"));
    EXPECT_EQ(RecordOf(gw)->topic, "100%");
}

TEST_F(DccTransferTest, TheSenderKeepsAWindowInFlightAndEndsOnTheLastAcknowledgement) {
    constexpr size_t kWindow = 1024 * 1024;
    Options().psize = 512;  // the window holds whatever the packet size
    std::string data = Pattern(kWindow + 300000);
    std::string path = File("s.bin", data);
    ASSERT_TRUE(StartSend("peer", path, false));
    // The file grows after the offer: only the offered bytes go.
    std::ofstream(path, std::ios::app) << "more bytes than offered";
    Peer p;
    ASSERT_TRUE(p.Connect(ListeningPort()));
    std::string got;
    ASSERT_TRUE(Pump([&] { return (got += p.Take()).size() >= kWindow; }));
    Settle();
    got += p.Take();
    EXPECT_EQ(got.size(), kWindow);  // no more without an acknowledgement
    // An acknowledgement split across reads: nothing moves on its first byte.
    auto ack = AckBytes(512);
    p.Send(std::string_view(ack.data(), 1));
    Settle();
    EXPECT_EQ(p.Take(), "");
    p.Send(std::string_view(ack.data() + 1, 3));
    ASSERT_TRUE(Pump([&] { return (got += p.Take()).size() >= kWindow + 512; }));
    Settle();
    EXPECT_EQ(got += p.Take(), data.substr(0, kWindow + 512));
    ack = AckBytes(got.size());
    p.Send(std::string_view(ack.data(), 4));
    ASSERT_TRUE(Pump([&] { return (got += p.Take()).size() >= data.size(); }));
    Settle();
    EXPECT_EQ(got += p.Take(), data);
    // Everything went, but the send waits for the receiver to say it has it all.
    EXPECT_FALSE(Printed(Dcc().sends[0].window, "DCC Send completed"));
    ack = AckBytes(data.size());
    p.Send(std::string_view(ack.data(), 4));
    bool closed = false;
    ASSERT_TRUE(Pump([&] {
        got += p.Take(&closed);
        return closed;
    }));
    EXPECT_EQ(got, data);
    EXPECT_TRUE(Printed(Dcc().sends[0].window, "DCC Send completed"));
}

TEST_F(DccTransferTest, AWrongAcknowledgementStopsTheSend) {
    struct Case {
        const char* name;
        uint64_t first, second;  // acknowledgements sent in one write
    } cases[] = {
        {"past what was sent", 3000, 6000},
        {"going back", 4000, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string data = Pattern(5000);
        std::string name = std::string("w-") + (c.first < c.second ? "past" : "back") + ".bin";
        ASSERT_TRUE(StartSend("peer", File(name, data), false));
        int slot = 0;
        while (slot < kSlots && Dcc().sends[slot].name != name) ++slot;
        ASSERT_LT(slot, kSlots);
        Peer p;
        ASSERT_TRUE(p.Connect(Dcc().sends[slot].port));
        std::string got;
        ASSERT_TRUE(Pump([&] { return (got += p.Take()).size() >= data.size(); }));
        auto a = AckBytes(c.first), b = AckBytes(c.second);
        p.Send(std::string(a.data(), 4) + std::string(b.data(), 4));
        bool closed = false;
        ASSERT_TRUE(Pump([&] {
            p.Take(&closed);
            return closed;
        }));
        WindowId w = Dcc().sends[slot].window;
        EXPECT_TRUE(Printed(w, "Wrong acknowledgement"));
        EXPECT_TRUE(Printed(w, "DCC Send incomplete!"));
        EXPECT_FALSE(Printed(w, "DCC Send completed"));
    }
}

TEST_F(DccTransferTest, AGetWritesNoMoreThanOfferedAndAcknowledgesWhatItWrote) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    HandleRequest("peer",
                  "\x01"
                  "DCC SEND ten.bin 2130706433 " +
                      std::to_string(ntohs(a.sin_port)) + " 10\x01");
    ASSERT_EQ(Dcc().gets[0].state, 1);
    AcceptGet(0, 2, "");
    ASSERT_TRUE(Pump([] { return Dcc().gets[0].file != nullptr; }));
    Peer sender;
    sender.fd = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ASSERT_GE(sender.fd, 0);
    ::fcntl(sender.fd, F_SETFL, O_NONBLOCK);
    sender.Send("0123456789abcdefghij");
    std::string acks;
    ASSERT_TRUE(Pump([&] { return (acks += sender.Take()).size() >= 4; }));
    auto ten = AckBytes(10);
    EXPECT_EQ(acks.substr(acks.size() - 4), std::string(ten.data(), 4));
    ::shutdown(sender.fd, SHUT_WR);
    ASSERT_TRUE(Pump([] { return Dcc().gets[0].state == 0; }));
    EXPECT_EQ(Contents(dir + "/get/ten.bin"), "0123456789");
}

TEST_F(DccTransferTest, ClosingAWindowFreesItsSlotAtOnce) {
    Options().psize = 512;
    Options().fsend = 1;
    int get = SendToSelf(File("big.bin", Pattern(8 << 20)), 2);
    ASSERT_GE(get, 0);
    ASSERT_TRUE(Pump([&] { return Dcc().gets[get].received > 0; }));
    GetSlot& g = Dcc().gets[get];
    uint64_t generation = g.generation;
    WindowId send_window = Dcc().sends[0].window;
    closewindow(g.window);
    EXPECT_EQ(g.state, 0);
    EXPECT_EQ(g.window, 0u);
    EXPECT_EQ(g.socket, platform::net::kNoSocket);
    EXPECT_EQ(g.file.get(), nullptr);
    // The sender learns of it from the connection.
    ASSERT_TRUE(Pump([] { return Dcc().sends[0].state == 0; }));
    EXPECT_TRUE(Printed(send_window, "incomplete") || Printed(send_window, "aborted"));
    closewindow(send_window);
    EXPECT_EQ(Dcc().sends[0].window, 0u);
    // The next offer takes the freed slots, under new generations.
    int again = SendToSelf(File("small.bin", Pattern(100)), 2);
    EXPECT_EQ(again, get);
    EXPECT_NE(Dcc().gets[again].generation, generation);
    ASSERT_TRUE(Pump([this] { return Idle(); }));
    EXPECT_EQ(Contents(dir + "/get/small.bin"), Pattern(100));
}

TEST_F(DccTransferTest, QuittingAsksOnlyWhileTransfersRun) {
    struct Case {
        int send_state, get_state;
        bool running;
    };
    for (Case c : {Case{0, 0, false}, Case{5, 5, false}, Case{0, 1, false}, Case{1, 0, true},
                   Case{2, 0, true}, Case{0, 2, true}, Case{0, 3, true}}) {
        Dcc().sends[4].state = c.send_state;
        Dcc().gets[7].state = c.get_state;
        EXPECT_EQ(TransfersRunning(), c.running) << c.send_state << " " << c.get_state;
    }
    std::vector<std::string> asked;
    bool answer = false;
    Dcc().dialogs.quit = [&](const std::string& title, const std::string& text) {
        asked.push_back(title + ": " + text);
        return answer;
    };
    EXPECT_FALSE(MayQuit());
    answer = true;
    EXPECT_TRUE(MayQuit());
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0],
              "Vesk DCC Warning!: There are DCC transfers in progress!\n\nAre you sure you want "
              "to quit?");
    // With nobody to ask, a warning and on.
    Dcc().dialogs.quit = nullptr;
    EXPECT_TRUE(MayQuit());
    EXPECT_TRUE(Printed(Windows().statwin, "There are DCC transfers in progress!"));
    Dcc().gets[7].state = 0;
    Dcc().dialogs.quit = [&](const std::string&, const std::string&) { return false; };
    EXPECT_TRUE(MayQuit());
}

class DccChatEventsTest : public DccTransferTest {
protected:
    void SetUp() override {
        DccTransferTest::SetUp();
        InstallScript();
        InstallDcc();
        Script().hooks.connected = [] { return true; };
        Options().lfe = 1;
    }
    void TearDown() override {
        ResetScript();
        DccTransferTest::TearDown();
    }
    // A chat (or file-server session) offered to "peer" and taken by a socket of the test.
    bool Open(Peer& p, bool server) {
        sent.clear();
        if (!StartChat("peer", server, server ? dir : "", "", 1)) return false;
        int slot = -1;
        for (int i = 0; i < kSlots; ++i)
            if (Dcc().chats[i].state == 1) slot = i;
        if (slot < 0 || !p.Connect(ListeningPort())) return false;
        return Pump([slot] { return Dcc().chats[slot].state == 3; });
    }
    std::string Await(Peer& p, const std::string& part) {
        std::string got;
        Pump([&] { return (got += p.Take()).find(part) != std::string::npos; });
        return got;
    }
};

TEST_F(DccChatEventsTest, ChatLinesRunTheEventsScriptAndRepliesGoBackToTheirSession) {
    aline(Script().szevents, "1:on chat:*hello*:*:/msg =$nick hi $nick, you said $parms", false);
    aline(Script().szevents, "1:on serv:dir*:*:/msg =$nick not today", false);
    Peer first, second;
    ASSERT_TRUE(Open(first, false));
    ASSERT_TRUE(Open(second, false));
    second.Send("well hello there\n");
    EXPECT_EQ(Await(second, "\n"), "hi peer, you said well hello there\n");
    EXPECT_EQ(first.Take(), "");
    first.Send("nothing to see\n");
    Settle();
    EXPECT_EQ(first.Take(), "");
    // In a file-server session a line the handlers take is no command; others still are.
    Peer served;
    ASSERT_TRUE(Open(served, true));
    Await(served, "]\n");
    served.Send("dir\n");
    EXPECT_EQ(Await(served, "\n"), "not today\n");
    served.Send("help\n");
    EXPECT_EQ(Await(served, "\n"), "Use: cd dir ls get read help exit\n");
    // With the events script off, lines are only shown.
    Options().lfe = 0;
    second.Send("hello again\n");
    Settle();
    EXPECT_EQ(second.Take(), "");
}

}  // namespace
}  // namespace chat::dcc
