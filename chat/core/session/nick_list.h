// A channel's member list: each member with at most one mark (~ & @ % +), kept in display order
// (marked groups in the server's order, then plain names, each group ignoring case) with an
// index by folded nickname, so joins, parts and renames never walk the list.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "chat/core/frontend.h"

namespace chat {

/// Longest nickname a list keeps; longer or empty ones are refused.
constexpr size_t kMaxListNick = 95;

/// Member status values of `user`.
enum MemberStatus : int {
    kNotListed = 0,
    kPlain = 1,
    kVoiced = 2,
    kOperator = 3,
    kRemoveVoice = 4,
};

/// One member.
struct Member {
    std::string nick;
    char mark = 0;      ///< the highest mark, 0 for a plain member
    std::string marks;  ///< every mark held (a voice stays beneath an operator's @)
};

/// The members of one channel.
struct NickList {
    /// Folded nickname to member.
    std::unordered_map<std::string, Member> by_name;
    /// Display order: (group rank, folded nickname); plain members have the highest rank.
    std::set<std::pair<int, std::string>> order;
    bool dirty = false;  ///< changed since the front end was told

    size_t size() const { return by_name.size(); }
};

/// The member of that nickname, or null.
const Member* FindMember(const NickList& list, std::string_view nick);
/// Adds or replaces a member with a mark (0 plain). False when the name is refused.
bool SetMember(NickList& list, std::string_view nick, char mark);
/// Adds or replaces a member holding every mark in `marks` (shown by the highest). False
/// when the name is refused.
bool SetMemberMarks(NickList& list, std::string_view nick, std::string_view marks);
/// Removes a member; false when not listed.
bool RemoveMember(NickList& list, std::string_view nick);
/// Renames a member keeping its mark; false when the old name is not listed.
bool RenameMember(NickList& list, std::string_view old_nick, std::string_view new_nick);
/// Empties the list.
void ClearMembers(NickList& list);
/// The entries as shown ("@op", "+voice", "plain") in display order.
std::vector<NickEntry> DisplayEntries(const NickList& list);
/// Re-sorts after the server announced another mark order.
void ResortMembers(NickList& list);

/// The status value of a mark.
int StatusOfMark(char mark);

/// Operates on the nick list of the channel window in `slot`: 0 remove (returns the old
/// status), 2 query, 1 set to `status` (a voice change leaves an operator as it is; status 0
/// takes marks from the text as a NAMES reply gives them). Returns 0 for a window without a
/// list.
int user(std::string_view nick, int slot, int operation, int status);

/// Tells the front end, once per batch of lines, about every list that changed (the lists
/// mark themselves as changed).
void MarkNickListChanged(WindowId window);
/// Tells the front end about every changed list now.
void FlushNickLists();

}  // namespace chat
