#include "chat/core/nick_list.h"

#include "chat/core/session_state.h"
#include "chat/core/window_table.h"
#include "platform/event_loop.h"

namespace chat {
namespace {

// Plain members sort after every marked group.
constexpr int kPlainRank = 1000;

int RankOf(char mark) {
    int rank = MarkRank(mark);
    return rank < 0 ? kPlainRank : rank;
}

bool Acceptable(std::string_view nick) {
    if (nick.empty() || nick.size() > kMaxListNick) return false;
    for (unsigned char c : nick)
        if (c <= ' ' || c == 127) return false;
    return true;
}

// Folded names differ from the display order only in case, so the folded name is the key of
// both the index and the order.
std::pair<int, std::string> OrderKey(const Member& m, const std::string& folded) {
    return {RankOf(m.mark), folded};
}

struct FlushState {
    platform::HWND window = 0;
    bool posted = false;
};

FlushState& Flusher() {
    static FlushState state;
    return state;
}

constexpr platform::UINT kMsgFlushNickLists = platform::WM_USER + 1;

}  // namespace

const Member* FindMember(const NickList& list, std::string_view nick) {
    auto it = list.by_name.find(FoldName(nick));
    return it == list.by_name.end() ? nullptr : &it->second;
}

bool SetMember(NickList& list, std::string_view nick, char mark) {
    if (!Acceptable(nick)) return false;
    std::string folded = FoldName(nick);
    auto it = list.by_name.find(folded);
    if (it != list.by_name.end()) {
        list.order.erase(OrderKey(it->second, folded));
        it->second = Member{std::string(nick), mark};
    } else {
        it = list.by_name.emplace(folded, Member{std::string(nick), mark}).first;
    }
    list.order.insert(OrderKey(it->second, folded));
    list.dirty = true;
    return true;
}

bool RemoveMember(NickList& list, std::string_view nick) {
    auto it = list.by_name.find(FoldName(nick));
    if (it == list.by_name.end()) return false;
    list.order.erase(OrderKey(it->second, it->first));
    list.by_name.erase(it);
    list.dirty = true;
    return true;
}

bool RenameMember(NickList& list, std::string_view old_nick, std::string_view new_nick) {
    const Member* m = FindMember(list, old_nick);
    if (!m || !Acceptable(new_nick)) return false;
    char mark = m->mark;
    RemoveMember(list, old_nick);
    return SetMember(list, new_nick, mark);
}

void ClearMembers(NickList& list) {
    list.by_name.clear();
    list.order.clear();
    list.dirty = true;
}

std::vector<NickEntry> DisplayEntries(const NickList& list) {
    std::vector<NickEntry> out;
    out.reserve(list.order.size());
    for (const auto& [rank, folded] : list.order) {
        const Member& m = list.by_name.at(folded);
        out.push_back(NickEntry{m.mark ? std::string(1, m.mark) + m.nick : m.nick});
    }
    return out;
}

void ResortMembers(NickList& list) {
    list.order.clear();
    for (const auto& [folded, m] : list.by_name) list.order.insert(OrderKey(m, folded));
    list.dirty = true;
}

int StatusOfMark(char mark) {
    if (mark == 0) return kPlain;
    return IsOperatorMark(mark) ? kOperator : kVoiced;
}

int user(std::string_view nick, int slot, int operation, int status) {
    if (slot < 0 || slot >= kMaxWindows) return 0;
    const WindowRecord& r = Windows().ch[slot];
    if (!r.window || r.kind != kKindChannel) return 0;
    while (!nick.empty() && nick.front() == ' ') nick.remove_prefix(1);
    nick = nick.substr(0, nick.find(' '));
    NickList& list = ChannelOf(r.window).nicks;

    if (operation == 1 && status == 0) {
        // A NAMES entry: its marks (several with multi-prefix) lead the name; the highest
        // counts. "nick!user@host" forms keep only the nickname.
        char mark = 0;
        while (!nick.empty() && MarkRank(nick.front()) >= 0) {
            if (mark == 0 || MarkRank(nick.front()) < MarkRank(mark)) mark = nick.front();
            nick.remove_prefix(1);
        }
        nick = nick.substr(0, nick.find('!'));
        if (!SetMember(list, nick, mark)) return 0;
        MarkNickListChanged(r.window);
        return StatusOfMark(mark);
    }
    const Member* m = FindMember(list, nick);
    int current = m ? StatusOfMark(m->mark) : kNotListed;
    if (operation == 2) return current;
    if (operation == 0) {
        if (m) {
            RemoveMember(list, nick);
            MarkNickListChanged(r.window);
        }
        return current;
    }
    if (operation != 1) return 0;
    if (current == status) return status;
    if ((status == kVoiced || status == kRemoveVoice) && current == kOperator) return status;
    char mark = status == kOperator ? '@' : status == kVoiced ? '+' : 0;
    if (!SetMember(list, nick, mark)) return 0;
    MarkNickListChanged(r.window);
    return status;
}

void MarkNickListChanged(WindowId) {
    Frontend& fe = CurrentFrontend();
    if (!fe.nicklist_changed) return;
    FlushState& f = Flusher();
    if (f.posted) return;
    if (f.window == 0 || !platform::IsWindow(f.window)) {
        f.window = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
                if (msg == kMsgFlushNickLists) FlushNickLists();
                return platform::LRESULT{0};
            });
    }
    // Many joins in one read are one update of the pane.
    f.posted = f.window != 0 && platform::PostMessage(f.window, kMsgFlushNickLists);
    if (!f.posted) FlushNickLists();
}

void FlushNickLists() {
    Flusher().posted = false;
    Frontend& fe = CurrentFrontend();
    for (auto& [id, data] : Session().channels) {
        if (!data.nicks.dirty) continue;
        data.nicks.dirty = false;
        if (fe.nicklist_changed && findhwnd(id) >= 0)
            fe.nicklist_changed(id, DisplayEntries(data.nicks));
    }
}

}  // namespace chat
