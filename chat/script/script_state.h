// The command language's process-wide state: the variable store, the alias list the parser
// consults, the per-line prompt value, counters that bound what one line may do, and the hooks
// through which the parser reaches dialogs, DDE and the remote-script resolver.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/core/frontend.h"
#include "chat/core/windows/line_list.h"

namespace chat {

/// Characters of one input line as evaluated (699 usable).
constexpr size_t kLineLimit = 700;
/// Characters of an evaluated command line after joining its tokens.
constexpr size_t kMaxCommandLine = 699;
/// Tokens of one command.
constexpr size_t kMaxTokens360 = 360;
/// Parameters ($1 ... $359) of one command.
constexpr size_t kMaxParams = 359;
/// $read expansions allowed in one input line.
constexpr int kMaxReadNesting = 8;

/// Where a line comes from (the third argument of `parseinput`).
enum Origin : int {
    kOriginTyped = 0,
    kOriginPerform = 1,
    kOriginParams = 2,
    kOriginPlay = 5,
    kOriginRemote = 6,
    kOriginFileServer = 7,
};

/// Dialogs and services that the front end or later layers supply. Each may be left empty:
/// the parser then behaves as if the dialog was cancelled or the service did not answer.
struct ScriptHooks {
    /// The modal prompt: the title; the entered text, or nothing for Cancel. Empty hook: the
    /// dialog cannot be shown.
    std::function<std::optional<std::string>(const std::string& title)> prompt;
    /// A file or folder selection (kind "file", "hfile" or "dir"); nothing for Cancel.
    std::function<std::optional<std::string>(const std::string& kind, const std::string& title,
                                             const std::string& pattern)>
        select_file;
    /// A DDE request with its time-out; empty when nobody answers.
    std::function<std::string(const std::string& service, const std::string& topic,
                              const std::string& item)>
        dde_request;
    /// The first clipboard text, empty when none.
    std::function<std::string()> clipboard;
    /// Nicknames selected in a channel window's nick list.
    std::function<std::vector<std::string>(WindowId window)> selected_nicks;
    /// The remote scripts' resolver of event identifiers and plain words (origin 6 and 7):
    /// appends the value of `word` to `out`; false abandons the line.
    std::function<bool(std::string_view word, int event, std::string& out)> parse;
    /// Opens a help file at a key word; empty key: its contents.
    std::function<void(const std::string& path, const std::string& key)> show_help;
    /// Starts a program; false when it could not be started.
    std::function<bool(const std::vector<std::string>& argv)> run_program;
    /// True when connected to a server; empty asks the connection.
    std::function<bool()> connected;
    /// Sends a line over a DCC chat: the chat window's own session when `nick` is empty, else
    /// the session with that nick. -1 when there is none, 0 when not yet connected, 1 sent.
    std::function<int(WindowId window, const std::string& nick, const std::string& text)> chat_send;
    /// Lets the user edit lines of text (the script editors): the title and the lines; the
    /// edited lines, or nothing when the user gave up or no editor could run.
    std::function<std::optional<std::vector<std::string>>(const std::string& title,
                                                          const std::vector<std::string>& lines)>
        edit_lines;
    /// A random number in [0, n); empty uses the program's generator.
    std::function<int64_t(int64_t n)> random;
};

/// The commands that double-clicks run (section "Clicks").
struct ClickCommands {
    std::string status = "/lusers";
    std::string query = "/whois $$1";
    std::string channel = "/channel";
    std::string nicklist = "/query $$1";
};

/// The process-wide state of the command language.
struct ScriptState {
    /// User variables: lines '%name value'.
    LineList szvars;
    /// Aliases: lines '/name body'.
    LineList szals;
    /// The remote user list, remote commands and remote events (their rules come with the
    /// remote layer; the lists are stored here so that /load and /save reach them).
    LineList szusers, szcmds, szevents;
    /// Set when the variables or other remote data changed and must be written back on exit.
    bool rchanged = false;
    /// The alternative command prefix (section "Text", key "commandchar").
    char xCOMMANDCHAR = '/';
    /// The last line entered in any window, for "/!".
    std::string lastline;
    /// The last value obtained by $? in the current input line.
    std::string lastprompt;
    /// The parameters ($1 ...) of the command being run, joined by blanks (a timer made by it
    /// keeps them).
    std::string current_params;
    /// $read expansions made in the current input line.
    int read_depth = 0;
    /// Copy every command line to the debug log.
    bool dodebuglogging = false;
    /// Folder that holds help files named after commands.
    std::string help_dir;
    /// The text-file player's current target ($pnick).
    std::string pnick;
    /// Beeps left and the interval of the running /beep.
    int nbeeps = 0;
    int beep_interval = 50;
    /// Pending automatic unbans: 'channel mask' with the seconds left.
    LineList unbans;
    /// /channel: the window asked about and when, in session milliseconds.
    WindowId channel_request = 0;
    int64_t channel_request_ms = 0;
    /// DCC packet size.
    int packet_size = 512;
    /// Script file names: aliases, popups, users, variables, commands, events.
    std::string afile, pfile, ufile, vfile, cfile, efile;
    ClickCommands clicks;
    /// The perform-on-connect lines (section "Perform"), run at the first end of the MOTD
    /// when the perform option is on.
    LineList szperform;
    ScriptHooks hooks;
};

/// The command language's state.
ScriptState& Script();
/// A fresh state (tests).
void ResetScript();

/// A random number in [0, n) (n > 0).
int64_t ScriptRandom(int64_t n);
/// True when text begins with prefix, ignoring case.
bool StartsNoCase(std::string_view text, std::string_view prefix);

}  // namespace chat
