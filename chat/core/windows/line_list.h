// The chat client's general container: an ordered list of text lines, each with one integer.
// Server lists, histories, queues, aliases and scripts are all kept in one.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

namespace chat {

/// One line: its text and a number the owning list uses for a state, a count-down or a kind.
struct Line {
    int32_t value = 0;
    std::string text;
};

/// A line list; iterators stay valid across every operation except removal of that node.
using LineList = std::list<Line>;
using LineIter = LineList::iterator;

/// Appends a copy of text with value, or with `sorted` inserts it by the list's sort rule
/// (upper-case initials before lower-case ones, each group ignoring case; lines not starting
/// with a letter are never passed over). Returns the new node.
LineIter aline(LineList& list, std::string_view text, bool sorted, int32_t value = 0);
/// Puts a new line (value 0) in front; with `unique` the first later line equal to it ignoring
/// case is removed.
LineIter atopline(LineList& list, std::string_view text, bool unique);
/// Removes the first line (nothing for an empty list).
void rtopline(LineList& list);
/// Removes one line.
void rline(LineList& list, LineIter node);
/// Splices all of `other` in front of `before` (at the end when before == list.end()).
void iline(LineList& list, LineIter before, LineList&& other);
/// Moves a line to the front.
void movetotop(LineList& list, LineIter node);
/// Frees every line.
void freelines(LineList& list);

/// Case-insensitive (ASCII) equality and ordering, as every list and name comparison uses.
bool EqualNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace chat
