// Turning a member's stored name into a safe output path: separators, leading slashes and
// drive prefixes, parent-folder components, short (8.3) names, and the selection match.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

/// The folder components and base name of a stored name made safe to create below a target
/// folder: `\` read as `/`, leading `/` and a drive prefix removed, empty and "." components
/// dropped. nullopt when a component is ".." or the base name is "." or ".." (or nothing is
/// left): such a member must not be written.
std::optional<std::vector<std::string>> SafeComponents(std::string_view stored);

/// True when `path` resolves to `resolved_root` (itself already resolved) or to a place
/// below it; a path that cannot be resolved (a dangling link) does not stay inside.
bool ResolvesInside(const std::string& path, const std::string& resolved_root);

/// One component in MS-DOS 8.3 form: the first 8 characters before the last `.` that are not
/// `.` or space, the first 3 non-space characters after it, +,;<=>[]| as `_`, upper case.
std::string ShortNameComponent(std::string_view component);

/// True when a stored name equals a selected name, ignoring case, `\` read as `/`.
bool SelectionMatches(std::string_view stored, std::string_view selected);

/// The part after the last `/` or `\`.
std::string_view BaseName(std::string_view name);

/// The archive a path names: the path as given when a file (not a folder) exists there;
/// otherwise ".zip" appended when its last component has no `.` (".ZIP" when only that file
/// exists).
std::string WithZipExtension(const std::string& path);

}  // namespace engine
