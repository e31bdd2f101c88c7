// Test fixture of the command language: a fresh session with a status window, a front end that
// records every printed line, a switchable connection and a sink for the lines to the server.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chat/core/connection/connection.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"
#include "platform/event_loop.h"

namespace chat {

struct Shown {
    std::string window;
    int colour = 0;
    std::string text;
};

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetEventLoop();
        ResetWindows();
        ResetOptions();
        ResetConnection();
        ResetSession();
        ResetScript();
        AddressList().clear();
        Options().linesep.clear();
        Frontend fe;
        fe.print_line = [this](WindowId, const std::string& name, int colour,
                               const std::string& text) {
            shown.push_back(Shown{name, colour, text});
        };
        fe.message_box = [this](const std::string&, const std::string& text) {
            boxes.push_back(text);
        };
        InstallFrontend(fe);
        status = MakeNewWindow("Status Window", false);
        Session().send = [this](std::string_view line, bool remote) {
            sent.emplace_back(line);
            if (remote) ++remote_sent;
        };
        Session().nick = "me";
        Session().wall_clock = [this] { return wall; };
        Script().hooks.connected = [this] { return connected; };
        Script().hooks.random = [](int64_t) { return int64_t{0}; };
    }
    void TearDown() override {
        ResetWindows();
        ResetSession();
        ResetScript();
        InstallFrontend(Frontend{});
    }
    /// Runs a line in a window and returns the lines it sent.
    std::vector<std::string> Run(WindowId w, std::string_view line, int origin = 0) {
        sent.clear();
        shown.clear();
        parseinput(w, line, origin, 0);
        return sent;
    }
    /// The texts printed since the last Run.
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Shown& s : shown) out.push_back(s.text);
        return out;
    }
    /// True when some printed text equals `text`.
    bool Printed(std::string_view text) const {
        for (const Shown& s : shown)
            if (s.text == text) return true;
        return false;
    }
    /// Runs a line and tells whether it printed `text`.
    bool Says(WindowId w, std::string_view line, std::string_view text, int origin = 0) {
        Run(w, line, origin);
        return Printed(text);
    }
    WindowId Channel(const std::string& name) { return MakeNewWindow(name, false); }
    void SetVar(const std::string& line) { aline(Script().szvars, line, false); }
    void Alias(const std::string& line) { aline(Script().szals, line, false); }

    WindowId status = 0;
    bool connected = true;
    int64_t wall = 850000000;  // a fixed moment in 1996
    std::vector<std::string> sent;
    int remote_sent = 0;
    std::vector<Shown> shown;
    std::vector<std::string> boxes;
};

}  // namespace chat
