#include "chat/core/session/ircv3_events.h"

#include <algorithm>
#include <map>

#include "chat/core/connection/capabilities.h"
#include "chat/core/options.h"
#include "chat/core/process_wide.h"
#include "chat/core/session/address_cache.h"
#include "chat/core/session/nick_list.h"
#include "chat/core/session/server_parser.h"
#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_print.h"
#include "chat/core/windows/window_table.h"

namespace chat {
namespace {

constexpr size_t kMaxShownText = 300;

// The names one summary line lists: the first ones, and how many there were.
struct Names {
    std::vector<std::string> shown;
    size_t count = 0;

    void Add(std::string_view nick) {
        if (shown.size() < kMaxSummaryNicks) shown.emplace_back(nick);
        ++count;
    }
    std::string Text() const {
        std::string out;
        for (const std::string& n : shown) out += (out.empty() ? "" : ", ") + n;
        if (count > shown.size()) out += " and " + std::to_string(count - shown.size()) + " more";
        return out;
    }
};

struct Batch {
    bool split = false;  ///< netsplit (quits), else netjoin (joins)
    std::string servers;
    Names all;
    std::map<WindowId, Names> per_window;
};

struct Ircv3State {
    std::map<std::string, Batch> open;
    std::map<std::string, std::string> accounts;  ///< folded nick: last account shown
};

Ircv3State& State() {
    return ProcessWide<Ircv3State>();
}

// Control bytes shown as blanks, and a bound on what one line may show.
std::string Shown(std::string_view text) {
    std::string out(text.substr(0, kMaxShownText));
    for (char& ch : out)
        if (static_cast<unsigned char>(ch) < 32) ch = ' ';
    return out;
}

// The channel windows that list the nickname.
std::vector<WindowId> SharedChannels(std::string_view nick) {
    std::vector<WindowId> out;
    for (const auto& [id, data] : Session().channels)
        if (findhwnd(id) >= 0 && FindMember(data.nicks, nick)) out.push_back(id);
    return out;
}

// A line in every channel shared with the nickname (the status window when none is).
void ShowInShared(std::string_view nick, const std::string& text, int colour) {
    std::vector<WindowId> where = SharedChannels(nick);
    if (where.empty()) where.push_back(StatusWindow());
    std::string line = timestamp(text);
    for (WindowId id : where) Print(id, line, colour);
}

Batch* CurrentBatch(bool split) {
    const std::string& id = LineBatch();
    if (id.empty()) return nullptr;
    auto it = State().open.find(id);
    if (it == State().open.end() || it->second.split != split) return nullptr;
    return &it->second;
}

void EndBatch(const std::string& id) {
    auto it = State().open.find(id);
    if (it == State().open.end()) return;
    const Batch& b = it->second;
    std::string head = std::string(b.split ? "*** Netsplit" : "*** Netjoin") +
                       (b.servers.empty() ? "" : " " + b.servers) + ": ";
    const char* verb = b.split ? " quit" : " joined";
    for (const auto& [window, names] : b.per_window)
        if (findhwnd(window) >= 0) Print(window, timestamp(head + names.Text() + verb), 1);
    if (b.all.count > 0) Print(StatusWindow(), timestamp(head + b.all.Text() + verb), 1);
    State().open.erase(it);
}

void HandleBatch() {
    const LineContext& c = Current();
    const std::string& ref = c.Tok(2);
    if (ref.size() < 2 || ref.size() > 64) return;
    std::string id = ref.substr(1);
    if (ref[0] == '-') return EndBatch(id);
    if (ref[0] != '+') return;
    std::string type = c.Tok(3);
    for (char& ch : type) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    // Other kinds of batch are shown line by line; a server that opens batches without end
    // gets no more than the bound.
    if ((type != "netsplit" && type != "netjoin") || State().open.size() >= kMaxOpenBatches ||
        State().open.count(id))
        return;
    Batch b;
    b.split = type == "netsplit";
    if (c.Has(4)) b.servers = Shown(c.Tok(4).substr(0, 100));
    if (c.Has(5)) b.servers += " " + Shown(c.Tok(5).substr(0, 100));
    State().open.emplace(std::move(id), std::move(b));
}

}  // namespace

bool HandleIrcv3Command(std::string_view command) {
    LineContext& c = Current();
    auto is = [&](std::string_view word) {
        return command.size() == word.size() &&
               std::equal(command.begin(), command.end(), word.begin(), [](char a, char b) {
                   return std::toupper(static_cast<unsigned char>(a)) == b;
               });
    };
    const std::string& nick = c.Tok(0);
    if (is("BATCH")) {
        HandleBatch();
        return true;
    }
    if (is("AWAY")) {
        // away-notify: "AWAY :reason" when going away, a bare "AWAY" when back.
        if (IsMe(nick)) return true;
        if (c.Has(2) && !c.Tok(2).empty())
            ShowInShared(nick, "*** " + nick + " is away (" + Shown(c.Tok(2)) + ")", 1);
        else
            ShowInShared(nick, "*** " + nick + " is back", 1);
        return true;
    }
    if (is("ACCOUNT")) {
        const std::string& account = c.Tok(2);
        // Our own login is shown by the SASL and services replies.
        if (account.empty() || IsMe(nick)) return true;
        ShowInShared(nick,
                     account == "*" ? "*** " + nick + " logged out"
                                    : "*** " + nick + " is logged in as " + Shown(account),
                     1);
        return true;
    }
    if (is("CHGHOST")) {
        // The address cache takes the new user@host: bans and lookups need no WHO.
        const std::string& user = c.Tok(2);
        const std::string& host = c.Tok(3);
        if (user.empty() || host.empty() || user.size() > 100 || host.size() > 255) return true;
        std::string address = user + "@" + host;
        SetAddress(nick, address);
        ShowInShared(nick, "*** " + nick + " changes host to " + Shown(address), 1);
        return true;
    }
    if (is("SETNAME")) {
        std::string name = Shown(c.Tok(c.line.trailing ? c.line.trailing : 2));
        if (IsMe(nick))
            Print(StatusWindow(), timestamp("*** Your real name is now \"" + name + "\""), 2);
        else
            ShowInShared(nick, "*** " + nick + " changes real name to \"" + name + "\"", 1);
        return true;
    }
    return false;
}

std::string JoinAccountText() {
    const LineContext& c = Current();
    // extended-join: "JOIN #chan account :real name", "*" for no account.
    if (!CapEnabled("extended-join") || !c.Has(3) || c.Tok(3).empty()) return "";
    const std::string& account = c.Tok(3);
    if (account == "*") return " [not logged in]";
    return " [account " + Shown(account.substr(0, 100)) + "]";
}

bool BatchTakesQuit(std::string_view nick, const std::vector<WindowId>& channels) {
    Batch* b = CurrentBatch(true);
    if (!b) return false;
    b->all.Add(nick);
    for (WindowId id : channels) b->per_window[id].Add(nick);
    return true;
}

bool BatchTakesJoin(std::string_view nick, WindowId channel) {
    Batch* b = CurrentBatch(false);
    if (!b) return false;
    b->all.Add(nick);
    b->per_window[channel].Add(nick);
    return true;
}

void ShowSenderAccount(std::string_view nick, WindowId window) {
    const std::string& account = LineAccount();
    if (account.empty() || !window) return;
    auto& known = State().accounts;
    if (known.size() >= kMaxKnownAccounts) known.clear();
    std::string& last = known[FoldName(nick)];
    if (last == account) return;
    last = account;
    Print(window, timestamp("*** " + std::string(nick) + " is logged in as " + Shown(account)), 1);
}

void Ircv3Reset() {
    State() = Ircv3State{};
}

}  // namespace chat
