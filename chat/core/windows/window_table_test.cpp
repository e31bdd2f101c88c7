#include "chat/core/windows/window_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <fstream>
#include <sstream>

#include "chat/core/events.h"
#include "chat/core/options.h"
#include "chat/core/windows/window_log.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_settings.h"

namespace chat {
namespace {

// Prefix plus number (kept out of line: GCC 12 warns falsely on the inlined concatenation).
std::string Tagged(const char* prefix, int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%d", prefix, n);
    return buf;
}

struct Printed {
    std::string window;
    std::string text;
};

class WindowTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        char tmpl[] = "/tmp/windowtestXXXXXX";
        dir_ = ::mkdtemp(tmpl);
        Options().szLogDir = dir_ + "/";
        Options().szINI = dir_ + "/vesk.ini";
        Frontend fe;
        fe.print_line = [this](WindowId, const std::string& name, int, const std::string& text) {
            printed_.push_back({name, text});
        };
        fe.beep = [this] { ++beeps_; };
        fe.set_input = [this](WindowId, const std::string& text) { input_ = text; };
        InstallFrontend(fe);
        status_ = MakeNewWindow("Status Window", false);
    }
    void TearDown() override {
        ResetWindows();
        InstallFrontend(Frontend{});
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    WindowRecord& Rec(WindowId id) { return *RecordOf(id); }
    std::string ReadFile(const std::string& path) {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::string dir_;
    std::vector<Printed> printed_;
    int beeps_ = 0;
    std::string input_;
    WindowId status_ = 0;
};

TEST_F(WindowTableTest, KindsNamesAndTheFiftyWindowLimit) {
    ASSERT_NE(status_, 0u);
    EXPECT_EQ(Rec(status_).kind, kKindStatus);
    WindowId chan = MakeNewWindow("#Chat", false);
    EXPECT_EQ(Rec(chan).kind, kKindChannel);
    EXPECT_EQ(Rec(MakeNewWindow("Send bob file", false)).kind, kKindTransfer);
    EXPECT_EQ(Rec(MakeNewWindow("Chat bob", false)).kind, kKindQuery);
    EXPECT_EQ(Rec(MakeNewWindow("Channels List", false)).kind, kKindChannelList);
    EXPECT_EQ(exists("#chat"), findhwnd(chan));
    EXPECT_EQ(exists(""), -1);
    EXPECT_EQ(Rec(MakeNewWindow(std::string(120, 'n'), false)).name.size(), kMaxWindowName);

    EXPECT_EQ(MakeNewWindow("", false), 0u);
    EXPECT_EQ(printed_.back().text, "*** Invalid window name!");
    int open = 6;
    while (open < kMaxWindows) {
        ASSERT_NE(MakeNewWindow(Tagged("q", open), false), 0u);
        ++open;
    }
    EXPECT_EQ(MakeNewWindow("one too many", false), 0u);
    EXPECT_EQ(printed_.back().text, "*** Maximum number of windows open!");
    EXPECT_GE(beeps_, 2);

    // A freed slot is reused under a new handle; the old handle stays dead.
    ASSERT_TRUE(closewindow(chan));
    WindowId again = MakeNewWindow("#chat", false);
    EXPECT_NE(again, chan);
    EXPECT_EQ(findhwnd(chan), -1);
    EXPECT_FALSE(closewindow(status_));  // the status window never closes
}

// A reset closes every window and leaves nothing of them behind: the slots that come back
// into use start blank, whether their windows were open at the reset or closed before it.
TEST_F(WindowTableTest, ResetLeavesNoTraceOfEarlierWindows) {
    WindowTable& t = Windows();
    for (int i = 1; i < 6; ++i) {
        WindowRecord& r = Rec(MakeNewWindow(Tagged("#c", i), false));
        r.topic = "old topic";
        r.modes = "+nt";
        r.history.push_back("/old");
        r.lines.push_back(Line{});
        r.font_name = "Other";
        Print(r.window, "old line", 1);
    }
    ASSERT_TRUE(closewindow(t.ch[3].window));
    t.may_close = [](const WindowRecord&) { return false; };
    t.on_close = [](const WindowRecord&) {};
    t.child_messages = [](WindowId, platform::UINT, platform::WPARAM, platform::LPARAM) {
        return platform::LRESULT{1};
    };
    t.Active = false;
    t.mw = 7;
    ResetWindows();
    EXPECT_EQ(t.statwin, 0u);
    EXPECT_EQ(t.CActive, 0u);
    EXPECT_TRUE(t.Active);
    EXPECT_EQ(t.mw, 100);
    EXPECT_FALSE(t.may_close || t.on_close || t.child_messages);
    for (const WindowRecord& r : t.ch) EXPECT_EQ(r.window, 0u);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        WindowRecord& r = Rec(MakeNewWindow(i == 0 ? "Status Window" : Tagged("#d", i), false));
        EXPECT_EQ(&r, &t.ch[i]);
        EXPECT_TRUE(r.topic.empty() && r.modes.empty() && r.history.empty() && r.lines.empty());
        EXPECT_EQ(r.font_name, "FixedSys");
        WrapPending(r);
        EXPECT_TRUE(r.buffer.empty() && r.unwrapped.empty());
    }
}

TEST_F(WindowTableTest, HistoryKeepsThirtyDistinctEntries) {
    int slot = findhwnd(status_);
    addtolbuf(slot, "/join #a");
    addtolbuf(slot, "hello");
    addtolbuf(slot, "/JOIN #A");  // same ignoring case: moved to the end, kept once
    ASSERT_EQ(Rec(status_).history.size(), 2u);
    EXPECT_EQ(Rec(status_).history.back(), "/join #a");
    showprevbuf(slot);
    EXPECT_EQ(input_, "/join #a");
    showprevbuf(slot);
    EXPECT_EQ(input_, "hello");
    int before = beeps_;
    showprevbuf(slot);  // at the oldest: beep, stays
    EXPECT_EQ(beeps_, before + 1);
    shownextbuf(slot);
    shownextbuf(slot);
    EXPECT_EQ(input_, "");  // past the newest: cleared
    shownextbuf(slot);
    EXPECT_EQ(beeps_, before + 2);
    for (int i = 0; i < 31; ++i) addtolbuf(slot, Tagged("line ", i));
    EXPECT_EQ(Rec(status_).history.size(), kHistorySize);
    EXPECT_EQ(Rec(status_).history.front(), "line 1");
}

TEST_F(WindowTableTest, WrapsByWidthIndentsAndScrollsBack) {
    WindowId q = MakeNewWindow("#w", false);
    WindowResized(q, 30, 5);
    Windows().mw = 0;
    Windows().tab = 4;
    Print(q, std::string(40, 'x') + " tail", 0);
    WindowRecord& r = Rec(q);
    ASSERT_EQ(r.buffer.size(), 2u);
    EXPECT_EQ(r.buffer[0].text, std::string(29, 'x'));
    EXPECT_EQ(r.buffer[1].text, "    " + std::string(11, 'x') + " tail");
    EXPECT_EQ(Windows().tab, 0);  // hints reset after each Print
    EXPECT_EQ(printed_.back().text, std::string(40, 'x') + " tail");  // logical line, unwrapped

    for (int i = 0; i < 10; ++i) Print(q, Tagged("line ", i), 0);
    EXPECT_EQ(r.top, 7);
    EXPECT_EQ(r.position, r.top);
    ScrollWindow(q, ScrollBy::kPage, -1);
    EXPECT_EQ(r.position, 2);
    Print(q, "while scrolled back", 0);
    EXPECT_EQ(r.position, 2);  // reading back is not disturbed
    EXPECT_EQ(r.top, 8);
    auto shown = VisibleLines(q, 5);
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown.back().text, "line 4");
    ScrollWindow(q, ScrollBy::kBottom, 0);
    EXPECT_EQ(VisibleLines(q, 5).back().text, "while scrolled back");
    ScrollWindow(q, ScrollBy::kTop, 0);
    EXPECT_EQ(r.position, 0);
}

TEST_F(WindowTableTest, ScrollBackIsCappedEvenWhenScrolledBack) {
    Options().sbbs = 200;
    WindowId q = MakeNewWindow("#cap", false);
    WindowResized(q, 80, 10);
    for (int i = 0; i < 300; ++i) Print(q, Tagged("l", i), 0);
    EXPECT_EQ(Rec(q).buffer.size(), 200u);
    EXPECT_EQ(Rec(q).buffer.front().text, "l100");
    ScrollWindow(q, ScrollBy::kLine, -50);
    for (int i = 0; i < 1000; ++i) Print(q, Tagged("m", i), 0);
    EXPECT_EQ(Rec(q).buffer.size(), 400u);
    EXPECT_LE(Rec(q).position, Rec(q).top);
}

TEST_F(WindowTableTest, MarksHighlightsAndSeparators) {
    WindowId a = MakeNewWindow("#a", false);
    WindowId b = MakeNewWindow("#b", false);  // now active
    Print(a, "news", 0);
    EXPECT_EQ(Rec(a).icon_mark, 1);
    Options().highlight_on = 1;
    Options().highlight = "Zorro, other";
    Windows().DoHL = true;
    Print(a, "hey ZORRO there", 0);
    EXPECT_EQ(Rec(a).icon_mark, 2);
    EXPECT_EQ(Rec(a).buffer.back().colour, 4);
    EXPECT_EQ(Rec(b).icon_mark, 0);
    SetActiveWindow(a);
    EXPECT_EQ(Rec(a).icon_mark, 0);

    Pp(status_, "framed", 1);
    ASSERT_GE(printed_.size(), 3u);
    EXPECT_EQ(printed_[printed_.size() - 3].text, "-");
    EXPECT_EQ(printed_.back().text, "-");
    EXPECT_TRUE(Windows().LWBlank);
    Options().linesep = "";
    size_t n = printed_.size();
    PrintSP(status_, 1);
    EXPECT_EQ(printed_.size(), n);
}

TEST_F(WindowTableTest, LogNamesStayInsideTheLogFolder) {
    EXPECT_EQ(legalize("#my-chan"), "#my_chan");
    EXPECT_EQ(legalize("../../etc/passwd"), "______etc_passwd");
    EXPECT_EQ(legalize("a&b"), "a_b");
    WindowId chat = MakeNewWindow("Chat bob", false);
    EXPECT_EQ(makefname(findhwnd(chat), ".log"), "bob.log");
    WindowId evil = MakeNewWindow("Chat ../x\x01y", false);
    EXPECT_EQ(makefname(findhwnd(evil), ".log"), "___x_y.log");
    EXPECT_EQ(makefname(findhwnd(status_), ".log"), "status.log");
    EXPECT_EQ(openlog("../escape.log", true, false), nullptr);
    EXPECT_EQ(openlog("..", true, false), nullptr);
    EXPECT_EQ(printed_.back().text.rfind("*** Unable to open log file: [", 0), 0u);
}

TEST_F(WindowTableTest, LogKeepsRawBytesAndStopsOnceOnFailure) {
    WindowId c = MakeNewWindow("#log-me", false);
    logwindow(c, true, true);
    ASSERT_TRUE(Rec(c).log);
    Print(c,
          "\x02"
          "bold\x02 caf\xe9",
          0);
    EXPECT_EQ(Rec(c).buffer.back().text, "bold caf\xc3\xa9");
    logwindow(c, true, true);  // off: closes with its session line
    std::string text = ReadFile(dir_ + "/#log_me.log");
    EXPECT_NE(text.find("Session Start: "), std::string::npos);
    EXPECT_NE(text.find("\x02"
                        "bold\x02 caf\xe9\n"),
              std::string::npos);
    EXPECT_NE(text.find("Session Close: "), std::string::npos);

    // A log that cannot be written: reported once, logging stops, printing goes on.
    WindowId f = MakeNewWindow("#full", false);
    Rec(f).log.reset(std::fopen("/dev/full", "w"));
    Rec(f).log_path = "/dev/full";
    std::string big(8192, 'z');
    Print(f, big, 0);
    Print(f, big, 0);
    FlushLogs();
    int reports = 0;
    for (const Printed& p : printed_)
        if (p.text.find("Unable to write log file") != std::string::npos) ++reports;
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(Rec(f).log);
    EXPECT_EQ(Rec(f).buffer.size(), 2u * ((8192 + 99) / 100));
}

TEST_F(WindowTableTest, SavedBufferHasHeaderLinesAndFooter) {
    WindowId q = MakeNewWindow("#save", false);
    savebuf(q);  // empty: only a beep
    EXPECT_EQ(beeps_, 1);
    Print(q, "first", 0);
    Print(q, "second", 0);
    savebuf(q);
    std::string text = ReadFile(dir_ + "/#save.log");
    EXPECT_EQ(text.find("\n#save buffer saved on "), 0u);
    EXPECT_NE(text.find("first\nsecond\nEnd of #save buffer   "), std::string::npos);
    EXPECT_EQ(printed_.back().text, "*** #save buffer saved to file [" + dir_ + "/#save.log]");
}

TEST_F(WindowTableTest, TheCatcherReadsItsLineWhilePrintingAnother) {
    // The URL catcher reads the printed text in place; a line it prints meanwhile (its
    // failure report) must not be made in the same storage.
    std::vector<std::string> caught;
    Hooks().printed = [this, &caught](std::string_view text) {
        if (caught.empty()) {
            caught.emplace_back("");
            Print(status_, "*** inner \x02report\x02 that is longer than the outer line", 1);
        }
        caught.emplace_back(text);
    };
    WindowId q = MakeNewWindow("#u", false);
    Print(q, "see \x1fhttp://example.net\x1f", 0);
    Hooks().printed = nullptr;
    ASSERT_EQ(caught.size(), 3u);
    EXPECT_EQ(caught[1], "*** inner report that is longer than the outer line");
    EXPECT_EQ(caught[2], "see http://example.net");
    ASSERT_EQ(printed_.size(), 2u);
    EXPECT_EQ(printed_[0].text, "see http://example.net");
    EXPECT_EQ(printed_[1].text, "*** inner report that is longer than the outer line");
    EXPECT_EQ(Rec(q).buffer.back().text, "see http://example.net");
    // The storage is free again afterwards.
    Print(q, "after", 0);
    EXPECT_EQ(printed_.back().text, "after");
}

// The state of a window's scroll-back as a reader sees it (reading wraps waiting lines).
struct BufferState {
    std::vector<std::pair<int, std::string>> lines;
    int64_t top = 0, position = 0;
    bool operator==(const BufferState&) const = default;
};

BufferState StateOf(WindowId id) {
    ScrollInfo info = GetScrollInfo(id);
    BufferState state{{}, info.top, info.position};
    for (const BufferLine& l : RecordOf(id)->buffer) state.lines.emplace_back(l.colour, l.text);
    return state;
}

// A window nobody shows keeps its lines unwrapped until something reads the buffer; what is
// read then is what printing them one by one into a shown window gives, whatever happened
// in between.
TEST_F(WindowTableTest, UnseenWindowsWrapWhenReadExactlyAsWhenShown) {
    Options().linesep = "-----";
    enum Step { kLines, kSeparator, kScrollBack, kBottom, kResize, kBiggerCap, kClear, kRead };
    const std::vector<std::vector<Step>> scenarios = {
        {kLines},
        {kLines, kLines, kLines, kRead, kLines},
        {kLines, kSeparator, kLines, kSeparator, kRead},
        {kLines, kScrollBack, kLines, kBottom, kLines},
        {kLines, kResize, kLines, kBiggerCap, kLines, kLines},
        {kLines, kClear, kLines, kRead, kClear, kRead, kLines},
    };
    uint32_t seed = 99;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    auto run = [&](const std::vector<Step>& steps, bool unseen, uint32_t start,
                   std::vector<BufferState>& reads) {
        seed = start;
        Options().sbbs = 200;
        CurrentFrontend().windows_unseen = unseen;
        WindowId q = MakeNewWindow(unseen ? "#unseen" : "#shown", false);
        WindowResized(q, 60, 8);
        bool deferred = false;
        for (Step step : steps) {
            switch (step) {
                case kLines:
                    for (int i = 0; i < 150; ++i) {
                        Windows().mw = next() % 3 == 0 ? 0 : 40 + static_cast<int>(next() % 60);
                        Windows().tab = static_cast<int>(next() % 30);
                        std::string text = Tagged("l", i) + ":";
                        size_t words = next() % 40;
                        for (size_t w = 0; w < words; ++w)
                            text += next() % 9 == 0 ? " \xc3\xa9t\xc3\xa9" : " word";
                        if (next() % 17 == 0) text = "\x02\x03";  // shows nothing
                        Print(q, text, static_cast<int>(next() % 6));
                        deferred = deferred || !Rec(q).unwrapped.empty();
                    }
                    break;
                case kSeparator:
                    PrintSP(q, 1);
                    break;
                case kScrollBack:
                    ScrollWindow(q, ScrollBy::kPage, -3);
                    break;
                case kBottom:
                    ScrollWindow(q, ScrollBy::kBottom, 0);
                    break;
                case kResize:
                    WindowResized(q, 35, 5);
                    break;
                case kBiggerCap:
                    Options().sbbs = 260;
                    break;
                case kClear:
                    clearbuf(q, true);
                    break;
                case kRead:
                    reads.push_back(StateOf(q));
                    break;
            }
        }
        reads.push_back(StateOf(q));
        EXPECT_EQ(deferred, unseen);
        CurrentFrontend().windows_unseen = false;
        closewindow(q);
    };
    for (size_t k = 0; k < scenarios.size(); ++k) {
        std::vector<BufferState> shown, unseen;
        run(scenarios[k], false, 1000 + static_cast<uint32_t>(k), shown);
        run(scenarios[k], true, 1000 + static_cast<uint32_t>(k), unseen);
        ASSERT_EQ(shown.size(), unseen.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].lines, unseen[i].lines) << "scenario " << k << " read " << i;
            EXPECT_EQ(shown[i].top, unseen[i].top) << "scenario " << k << " read " << i;
            EXPECT_EQ(shown[i].position, unseen[i].position) << "scenario " << k;
        }
        EXPECT_FALSE(shown.back().lines.empty()) << "scenario " << k;
    }
}

TEST_F(WindowTableTest, AStatusGapSeesLinesThatWaitUnwrapped) {
    Options().linesep = "-----";
    CurrentFrontend().windows_unseen = true;
    Print(status_, "first", 1);
    EXPECT_TRUE(Rec(status_).buffer.empty());  // still waiting
    StatusGap();
    CurrentFrontend().windows_unseen = false;
    ASSERT_EQ(printed_.size(), 2u);
    EXPECT_EQ(printed_[1].text, "-----");
    EXPECT_EQ(StateOf(status_).lines,
              (std::vector<std::pair<int, std::string>>{{1, "first"}, {1, "-----"}}));
}

}  // namespace
}  // namespace chat
