// The parser of server lines: splits a line into its source and parameters, decides what it
// is, runs one handler per command and numeric reply, and prints what the user sees, in which
// window and colour.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/events.h"
#include "chat/core/frontend.h"

namespace chat {

/// Tokens kept from one line; the rest of a longer line is dropped.
constexpr size_t kMaxTokens = 339;
/// Characters of a shown message text.
constexpr size_t kMaxMsg = 750;

/// One server line split into tokens.
struct TokenizedLine {
    std::vector<std::string> tk;  ///< tk[0] is the source (nickname only once split) or command
    size_t trailing = 0;          ///< index of the ":" parameter, 0 when none
    std::string userhost;         ///< the source's part after "!", empty when none
    bool has_userhost = false;
};

/// Splits a line: IRCv3 tags skipped, a leading ":" dropped, blanks separate tokens (several
/// in a row count as one), a ":" parameter takes the rest of the line. At most 339 tokens.
TokenizedLine Tokenize(std::string_view line);
/// As Tokenize, into an existing line whose buffers are reused.
void TokenizeInto(std::string_view line, TokenizedLine& out);

/// Per-line working state of the handlers.
struct LineContext {
    TokenizedLine line;
    std::string msg;  ///< text being composed, at most 750 characters
    WindowId currwin = 0;
    int uc = 0;
    int mw = 85;
    int tab = 0;
    int beep = 0;
    bool highlight = false;
    bool BBlank = false, ABlank = false;
    CurrentEvent event;

    /// Token i, or empty when the line has fewer.
    const std::string& Tok(size_t i) const {
        static const std::string empty;
        return i < line.tk.size() ? line.tk[i] : empty;
    }
    /// True when token i exists.
    bool Has(size_t i) const { return i < line.tk.size(); }
};

/// The context of the line being handled.
LineContext& Current();

/// The entry point: handles one server line (without its line end).
void parseline(std::string_view line);
/// Installs the parser at the connection's hand-off point.
void InstallServerParser();

/// Appends text to msg within its bound.
void AppendMsg(std::string_view text);
/// Appends every token from `from` on (separated by blanks) to msg, then prints msg in currwin
/// with colour class uc; -1 prints msg alone. Empty msg prints nothing.
void printinfo(int from);
/// Prints `text` in a window with the context's hints (indent, wrap, beep, highlight).
void PrintWithHints(WindowId window, std::string_view text, int colour);
/// The status window.
WindowId StatusWindow();
/// The window of a channel or query name, 0 when none.
WindowId WindowNamed(std::string_view name);

// Handlers of the commands from other clients.
void HandlePrivmsg();
void HandleNotice();
/// Chooses the window of a private message and its first word ("<nick>" or "*nick*").
void query();
/// The window for private text from `nick`: its query window (made now), the shared message
/// window, or with `allow_active` the active channel; `shared` tells which. 0 when none.
WindowId QueryWindowFor(std::string_view nick, bool allow_active, bool& shared);
/// The window of a channel name, 0 when none is open.
WindowId ChannelWindowByName(std::string_view channel);
/// Tells the front end a window's title (name, modes, topic) changed.
void Retitle(WindowId window);
/// Closes a window the server took from us (no PART is sent) and forgets its channel data.
void CloseByServer(WindowId window);
/// Sets the nickname the server knows us by.
void SetSessionNick(std::string_view nick);
/// The numeric replies.
void number(int code, size_t trailing);

/// Runs the second each: rejoins that are due after a kick.
void ParserTick();

}  // namespace chat
