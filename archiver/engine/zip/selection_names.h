// Names in file selection: wildcard patterns, the name a file is stored under in the archive
// (optionally in MS-DOS 8.3 form), and the case-folded order of stored names.
#pragma once

#include <string>
#include <string_view>

namespace zip {

/// True when `name` holds `*` or `?`.
bool has_wildcard(std::string_view name);

/// Wildcard match of a whole name: both are split at their last `.` and base and extension
/// must each match (`*` any run, `?` any one character, `\` quotes the next pattern
/// character), so `*.*` matches every name and `*` only names without a dot. With
/// `fold_case` letters compare in upper case (member names); otherwise exactly (disk names).
bool names_match(std::string_view pattern, std::string_view name, bool fold_case);

/// Orders names with the letters A-Z folded to lower case, everything else exact.
int compare_folded(std::string_view a, std::string_view b);

/// The settings that shape a stored name.
struct StoredNameRules {
    bool recurse = false;        // recursion is on
    bool store_folders = false;  // stored names keep their folder part
    bool short_names = false;    // MS-DOS 8.3 names
    bool base_set = false;       // a pattern's folder is being expanded
    std::string_view base_folder;
};

/// The name `path` is stored under (empty when nothing is left). `is_folder` keeps the
/// trailing `/` of a folder entry. `.` and `..` components and leading `/` never survive,
/// so a stored name cannot reach outside the folder it is extracted into.
std::string stored_name(const StoredNameRules& rules, std::string_view path, bool is_folder,
                        bool* short_flag);

/// MS-DOS form of a stored name, component by component: base cut to 8 characters (dots and
/// blanks dropped), extension to 3 (blanks dropped), `+,;<=>[]|` made `_`, letters upper case.
std::string short_form(std::string_view name);

}  // namespace zip
