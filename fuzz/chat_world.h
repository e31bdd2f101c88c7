// A chat session for the harnesses: every layer installed as the program installs it, a front
// end that takes what is printed and drops it, the server and DCC peers replaced by sinks, and
// every way out of the process (programs, files outside a scratch folder, the network, exit)
// replaced by a stand-in that does nothing. Each input starts from the same fresh state.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "chat/core/connection/connection.h"
#include "chat/core/frontend.h"
#include "chat/core/options.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
#include "chat/dcc/dcc_state.h"
#include "chat/lists/list_commands.h"
#include "chat/script/commands.h"
#include "chat/script/commands_files.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"
#include "fuzz/fuzz_util.h"
#include "platform/event_loop.h"

namespace fuzz {

/// What the fake world counts, so the harness can look at it.
struct ChatSinks {
    size_t printed = 0;
    size_t sent = 0;
};

inline ChatSinks& Sinks() {
    static ChatSinks sinks;
    return sinks;
}

namespace detail {

inline int Refuse(chat::WindowId, const chat::Args&, bool) {
    return 0;
}

/// Installs the layers once, with the process's folders pointed at the scratch folder.
inline const chat::ScriptState& Pristine() {
    static const chat::ScriptState pristine = [] {
        const std::string& scratch = ScratchFolder();
        ::setenv("HOME", scratch.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
        if (::chdir(scratch.c_str()) != 0) std::abort();
        chat::InstallScript();
        chat::InstallFileCommands();
        chat::InstallLists();
        chat::dcc::InstallDcc();
        // Commands that reach programs, arbitrary files, other processes, the network or the
        // process's end: the evaluator still parses and evaluates their arguments.
        for (const char* name :
             {"/RUN",     "/REMOVE",    "/EXIT",   "/LOAD",   "/SAVE",       "/WRITE", "/LOG",
              "/DDE",     "/DDESERVER", "/SERVER", "/DNS",    "/FINGER",     "/PLAY",  "/SOUND",
              "/WAVPLAY", "/SPEAK",     "/DCC",    "/FSERVE", "/DISCONNECT", "/FONT"})
            chat::InstallCommand(name, Refuse);
        chat::ScriptHooks& h = chat::Script().hooks;
        h.run_program = [](const std::vector<std::string>&) { return true; };
        h.dde_request = [](const std::string&, const std::string&, const std::string&) {
            return std::string("answer");
        };
        h.connected = [] { return true; };
        h.random = [](int64_t) { return int64_t{0}; };
        h.show_help = nullptr;
        h.prompt = nullptr;
        h.select_file = nullptr;
        h.edit_lines = nullptr;
        return chat::Script();
    }();
    return pristine;
}

/// Whether the world is as the next input must find it (set by EndChatInput).
inline bool& WorldIsFresh() {
    static bool fresh = false;
    return fresh;
}

/// Closes what the last input left open and builds the fresh session: status window open,
/// our nickname "me", connected, clocks fixed.
inline void FreshChatWorld() {
    const chat::ScriptState& pristine = Pristine();
    platform::ResetEventLoop();
    chat::ResetWindows();
    chat::ResetOptions();
    chat::ResetConnection();
    chat::ResetSession();
    chat::dcc::ResetDcc();
    chat::Script() = pristine;
    chat::AddressList().clear();
    chat::Options().linesep.clear();
    chat::Options().szPATH = ScratchFolder() + "/";
    chat::Options().sip = 0x7F000001u;
    chat::Options().szsip = "127.0.0.1";
    chat::Frontend fe;
    fe.print_line = [](chat::WindowId, const std::string&, int, const std::string& text) {
        Sinks().printed += text.size();
    };
    chat::InstallFrontend(fe);
    chat::MakeNewWindow("Status Window", false);
    chat::Session().send = [](std::string_view line, bool) { Sinks().sent += line.size(); };
    chat::Session().clock = [] { return int64_t{1000000}; };
    chat::Session().wall_clock = [] { return int64_t{1700000000}; };
    chat::SetSessionNick("me");
}

}  // namespace detail

/// A fresh session for this input. The world is rebuilt at the end of each input rather than
/// at its start, so that what an input builds is let go within that same input: the fuzzer
/// then sees as many frees as allocations and does not run the input a second time to look
/// for a leak.
inline void StartChatInput() {
    if (!detail::WorldIsFresh()) detail::FreshChatWorld();
    detail::WorldIsFresh() = false;
}

/// Closes the sockets and windows the input left open and rebuilds the world for the next.
inline void EndChatInput() {
    detail::FreshChatWorld();
    detail::WorldIsFresh() = true;
}

}  // namespace fuzz
