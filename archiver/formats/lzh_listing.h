// LZH listing: finds the first header (also behind a self-extracting program) and walks the
// headers of levels 0, 1 and 2 with their extended headers, never reading past the file.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/listed_member.h"

namespace formats {

/// How far into the file the first header is searched for.
constexpr uint64_t kLzhSearchLimit = 20000;

/// Reads the members of the LZH archive at `path`; false with the message in `error`
/// ("File does not appear to be a valid LZH archive", "Bad header", "Header checksum error",
/// or the unexpected-end message). Members read before an error stay in `members`.
bool ReadLzhListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error);

}  // namespace formats
