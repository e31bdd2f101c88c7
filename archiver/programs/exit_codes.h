// What an archiver's exit code means: the tables of ARJ, LHA, PKZIP and PKUNZIP, and the
// message an operation shows for a code.
#pragma once

#include <optional>
#include <string>

namespace programs {

/// The program families whose exit codes have a table.
enum class ExitTable { kPkzip, kPkunzip, kLha, kArj };

/// The table's text for `code`: a code without its own text takes the text of the entry
/// before it; nullopt for a code not in the table.
std::optional<std::string> ExitCodeText(ExitTable table, int code);

/// The message shown after a run that ended with `code` (not 0): "Error %u:\n%s" for a code
/// in the table, "Unknown error %d" otherwise, and nothing (empty) for 219 without an entry.
std::string ExitCodeMessage(ExitTable table, int code);

}  // namespace programs
