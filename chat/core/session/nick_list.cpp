#include "chat/core/session/nick_list.h"

#include <algorithm>
#include <chrono>

#include "chat/core/session/session_state.h"
#include "chat/core/windows/window_table.h"
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
    bool posted = false;      ///< a flush message waits in the queue
    bool timer = false;       ///< a flush waits for its timer
    uint64_t last_ms = 0;     ///< when the last flush ended
    size_t last_members = 0;  ///< entries it handed to the front end
};

FlushState& Flusher() {
    static FlushState state;
    return state;
}

constexpr platform::UINT kMsgFlushNickLists = platform::WM_USER + 1;
constexpr platform::UINT kFlushTimerId = 1;

// Every update hands the front end the whole list, so in a big channel that keeps changing
// the updates alone would cost more than everything else. After a flush the next one waits
// in proportion to the entries just handed over (a list of 10,000 updates ten times a
// second); a small list still updates at once.
constexpr size_t kMembersPerMs = 100;
constexpr uint64_t kMaxFlushSpacingMs = 250;

uint64_t FlushSpacingMs(size_t members) {
    return std::min<uint64_t>(members / kMembersPerMs, kMaxFlushSpacingMs);
}

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

const Member* FindMember(const NickList& list, std::string_view nick) {
    auto it = list.by_name.find(FoldName(nick));
    return it == list.by_name.end() ? nullptr : &it->second;
}

bool SetMember(NickList& list, std::string_view nick, char mark) {
    return SetMemberMarks(list, nick, mark ? std::string_view(&mark, 1) : std::string_view());
}

bool SetMemberMarks(NickList& list, std::string_view nick, std::string_view marks) {
    if (!Acceptable(nick)) return false;
    std::string held;
    char mark = 0;
    for (char m : marks) {
        if (MarkRank(m) < 0 || held.find(m) != std::string::npos || held.size() >= 8) continue;
        held += m;
        if (mark == 0 || MarkRank(m) < MarkRank(mark)) mark = m;
    }
    std::string folded = FoldName(nick);
    auto it = list.by_name.find(folded);
    if (it != list.by_name.end()) {
        list.order.erase(OrderKey(it->second, folded));
        it->second = Member{std::string(nick), mark, held};
    } else {
        it = list.by_name.emplace(folded, Member{std::string(nick), mark, held}).first;
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
    std::string marks = m->marks;
    RemoveMember(list, old_nick);
    return SetMemberMarks(list, new_nick, marks);
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
        size_t count = 0;
        while (count < nick.size() && MarkRank(nick[count]) >= 0) ++count;
        std::string_view marks = nick.substr(0, count);
        nick = nick.substr(count);
        nick = nick.substr(0, nick.find('!'));
        if (!SetMemberMarks(list, nick, marks)) return 0;
        MarkNickListChanged(r.window);
        return StatusOfMark(FindMember(list, nick)->mark);
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
    if (f.posted || f.timer) return;
    if (f.window == 0 || !platform::IsWindow(f.window)) {
        // A new event loop (a test's) starts without the spacing of the old one.
        f = FlushState{};
        f.window = platform::CreateWindow(
            [](platform::HWND, platform::UINT msg, platform::WPARAM w, platform::LPARAM) {
                if (msg == kMsgFlushNickLists || (msg == platform::WM_TIMER && w == kFlushTimerId))
                    FlushNickLists();
                return platform::LRESULT{0};
            });
    }
    uint64_t due = f.last_ms + FlushSpacingMs(f.last_members);
    uint64_t now = NowMs();
    if (f.window != 0 && now < due) {
        f.timer = platform::SetTimer(f.window, kFlushTimerId, static_cast<uint32_t>(due - now));
        if (f.timer) return;
    }
    // Many joins in one read are one update of the pane.
    f.posted = f.window != 0 && platform::PostMessage(f.window, kMsgFlushNickLists);
    if (!f.posted) FlushNickLists();
}

void FlushNickLists() {
    FlushState& f = Flusher();
    f.posted = false;
    if (f.timer) platform::KillTimer(f.window, kFlushTimerId);
    f.timer = false;
    Frontend& fe = CurrentFrontend();
    size_t members = 0;
    for (auto& [id, data] : Session().channels) {
        if (!data.nicks.dirty) continue;
        data.nicks.dirty = false;
        if (fe.nicklist_changed && findhwnd(id) >= 0) {
            fe.nicklist_changed(id, DisplayEntries(data.nicks));
            members += data.nicks.size();
        }
    }
    f.last_ms = NowMs();
    f.last_members = members;
}

}  // namespace chat
