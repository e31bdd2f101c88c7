// Test fixture of the server line parser: a fresh session with a status window, a front end
// that records every printed line, and a sink for the lines sent to the server.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "platform/event_loop.h"

namespace chat {

struct Printed {
    std::string window;
    int colour = 0;
    std::string text;
};

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        ResetConnection();
        ResetSession();
        AddressList().clear();
        Options().linesep.clear();
        Frontend fe;
        fe.print_line = [this](WindowId, const std::string& name, int colour,
                               const std::string& text) {
            printed.push_back(Printed{name, colour, text});
        };
        fe.set_input = [this](WindowId, const std::string& text) { input = text; };
        InstallFrontend(fe);
        MakeNewWindow("Status Window", false);
        Session().send = [this](std::string_view line, bool remote) {
            sent.emplace_back(line);
            if (remote) ++remote_sent;
        };
        Session().clock = [this] { return now_ms; };
        Session().wall_clock = [this] { return wall; };
        SetSessionNick("me");
    }
    void TearDown() override {
        ResetWindows();
        ResetSession();
        InstallFrontend(Frontend{});
    }
    /// Feeds lines and returns what they printed.
    std::vector<Printed> Feed(std::initializer_list<std::string_view> lines) {
        printed.clear();
        for (std::string_view l : lines) parseline(l);
        return printed;
    }
    /// The single line a server line printed ("" when none, "<n lines>" when several).
    std::string One(std::string_view line, std::string* window = nullptr, int* colour = nullptr) {
        auto out = Feed({line});
        if (out.empty()) return "";
        if (out.size() > 1) return "<" + std::to_string(out.size()) + " lines>";
        if (window) *window = out[0].window;
        if (colour) *colour = out[0].colour;
        return out[0].text;
    }
    WindowId Join(const std::string& channel) {
        parseline(":me!u@h JOIN " + channel);
        return WindowNamed(channel);
    }
    std::vector<std::string> sent;
    int remote_sent = 0;
    std::vector<Printed> printed;
    std::string input;
    int64_t now_ms = 1000000;
    int64_t wall = 1700000000;
};

}  // namespace chat
