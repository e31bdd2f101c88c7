#include "chat/core/connection/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/core/connection/send_queue.h"

namespace chat {
namespace {

std::vector<std::string> Split(LineSplitter& s, std::string_view bytes) {
    std::vector<std::string> out;
    s.Push(bytes, [&](std::string_view l) { out.emplace_back(l); });
    return out;
}

TEST(LineSplitterTest, LinesAcrossReadsAndSeveralInOneRead) {
    LineSplitter s;
    EXPECT_TRUE(Split(s, ":srv 001 me :Wel").empty());
    EXPECT_EQ(Split(s, "come\r\nPING :x\r\n\nPART"),
              (std::vector<std::string>{":srv 001 me :Welcome", "PING :x", ""}));
    EXPECT_EQ(Split(s, "\n"), (std::vector<std::string>{"PART"}));
    EXPECT_EQ(Split(s, "a\r\r"), std::vector<std::string>{});
    EXPECT_EQ(Split(s, "b\n"), (std::vector<std::string>{"ab"}));
}

TEST(LineSplitterTest, OverlongLinePassesItsHeadAndDropsTheRest) {
    LineSplitter s;
    std::string line(700, 'x');
    line.replace(690, 9, "PRIVMSG y");
    auto out = Split(s, line);  // no line end yet: the head goes at once
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].size(), kMaxServerLine);
    // The tail, up to the line feed, never becomes a line of its own.
    EXPECT_EQ(Split(s, "more tail\nnext\n"), (std::vector<std::string>{"next"}));
    // Exactly 680 characters then LF: one line, nothing empty after it.
    EXPECT_EQ(Split(s, std::string(680, 'z') + "\nok\n"),
              (std::vector<std::string>{std::string(680, 'z'), "ok"}));
}

TEST(LineSplitterTest, TaggedLinesMayCarryTagsBeforeTheUsualLength) {
    struct Case {
        size_t tag_bytes;
        size_t passed;  // length of the line passed on
    };
    const std::string rest = " :s PRIVMSG a :" + std::string(600, 'm');
    for (Case c : {Case{8000, 8001 + 615}, Case{9000, kMaxTaggedLine}}) {
        LineSplitter s;
        std::string line = "@" + std::string(c.tag_bytes, 't') + rest;
        auto out = Split(s, line + "\r\nnext\n");
        ASSERT_EQ(out.size(), 2u) << c.tag_bytes;
        EXPECT_EQ(out[0].size(), c.passed) << c.tag_bytes;
        EXPECT_EQ(out[1], "next");
    }
}

TEST(LineSplitterTest, SameLinesWhereverTheReadsAreCut) {
    // Whole lines take a path without copying; cut lines, stray CRs and long lines another.
    std::string stream = "PING :a\r\nmid\rdle\r\n\r\n\nx\r\r\n" + std::string(679, 'q') + "\r\n" +
                         std::string(681, 'w') + "\r\nlast\n";
    LineSplitter whole;
    auto expected = Split(whole, stream);
    EXPECT_EQ(expected,
              (std::vector<std::string>{"PING :a", "middle", "", "", "x", std::string(679, 'q'),
                                        std::string(680, 'w'), "last"}));
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        LineSplitter s;
        auto got = Split(s, std::string_view(stream).substr(0, cut));
        auto rest = Split(s, std::string_view(stream).substr(cut));
        got.insert(got.end(), rest.begin(), rest.end());
        ASSERT_EQ(got, expected) << "cut at " << cut;
    }
}

// A writer that takes at most `room` bytes per call and then reports would-block.
struct FakeSocket {
    std::string received;
    size_t room = 0;
    bool fail = false;
    ptrdiff_t Write(std::span<const char> data) {
        if (fail) {
            errno = ECONNRESET;
            return -1;
        }
        if (room == 0) {
            errno = EWOULDBLOCK;
            return -1;
        }
        size_t n = std::min(room, data.size());
        received.append(data.data(), n);
        room -= n;
        return static_cast<ptrdiff_t>(n);
    }
};

TEST(SendQueueTest, PartialSendKeepsTailFirstAndNewTextBehind) {
    FakeSocket sock;
    ByteWriter w = [&](std::span<const char> d) { return sock.Write(d); };
    SendQueue q;
    sock.room = 4;
    EXPECT_EQ(q.Send("NICK me\r\n", w), SendResult::kQueued);
    EXPECT_EQ(sock.received, "NICK");
    EXPECT_EQ(q.Send("USER u\r\n", w), SendResult::kQueued);  // never overtakes the tail
    EXPECT_EQ(sock.received, "NICK");
    sock.room = 5;
    EXPECT_EQ(q.Drain(w), SendResult::kQueued);
    sock.room = 100;
    EXPECT_EQ(q.Drain(w), SendResult::kSent);
    EXPECT_EQ(sock.received, "NICK me\r\nUSER u\r\n");
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.Send("PONG\r\n", w), SendResult::kSent);
    EXPECT_EQ(sock.received, "NICK me\r\nUSER u\r\nPONG\r\n");
}

TEST(SendQueueTest, HardErrorsAndTheSizeBoundFail) {
    FakeSocket sock;
    ByteWriter w = [&](std::span<const char> d) { return sock.Write(d); };
    SendQueue q;
    sock.fail = true;
    EXPECT_EQ(q.Send("x\r\n", w), SendResult::kFailed);
    SendQueue full;
    sock.fail = false;
    sock.room = 0;
    std::string big(kMaxQueuedBytes / 2, 'a');
    EXPECT_EQ(full.Send(big, w), SendResult::kQueued);
    EXPECT_EQ(full.Send(big, w), SendResult::kQueued);
    EXPECT_EQ(full.Send("b", w), SendResult::kFailed);
    EXPECT_EQ(full.size(), kMaxQueuedBytes);
}

}  // namespace
}  // namespace chat
