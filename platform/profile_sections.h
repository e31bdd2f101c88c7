// Rewriting whole sections of a private-profile file: appending one, merging a rewritten list
// with the comments of the old one, and replacing or removing every occurrence of one.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile_document.h"

namespace platform::profile_detail {

/// Appends a section at the end of the file, after a blank line that sets it apart.
void AppendSection(std::vector<Line>& lines, bool crlf, std::string_view name,
                   std::vector<Line> block);
/// The lines of a rewritten list section: the new entries, with the comments and other lines
/// of the old section kept in front of the entry they stood before.
std::vector<Line> MergeSection(const Document& doc, std::string_view name,
                               const std::vector<std::pair<std::string, std::string>>& entries);
/// True when a list section holds text other than its entries (comments, notes).
bool HasOtherLines(const Document& doc, std::string_view name);
/// The file's lines with every occurrence of a section taken out; the first one is replaced
/// by the header and block when a block is given (appended when the section is missing).
std::vector<Line> ReplaceSection(const Document& doc, std::string_view name,
                                 const std::vector<Line>* block);

}  // namespace platform::profile_detail
