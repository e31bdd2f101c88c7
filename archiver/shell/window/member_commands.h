// Extract, Test, Add and Delete: the commands that read or change the members of the open
// archive.
#pragma once

namespace window {

/// Extract: the Extract dialog, then the selected, matching or all members extracted.
void Extract();
/// Test: every member read and checked; the result goes to the status line.
void Test();
/// Add: the Add dialog, then the chosen files added to the open archive.
void Add();
/// Delete: the Delete dialog, then the chosen members (or the whole archive) deleted.
void Delete();

}  // namespace window
