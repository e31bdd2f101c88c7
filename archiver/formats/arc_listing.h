// ARC listing: walks the 29-byte member headers (25 bytes for the oldest stored method) and
// skips each member's data, never reading past the file.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/listed_member.h"

namespace formats {

/// Reads the members of the ARC archive at `path`; false with the message in `error` ("I/O
/// error on header", "Invalid header", "Cannot process an ARC containing folders", or the
/// unexpected-end message). Members read before an error stay in `members`.
bool ReadArcListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error);

}  // namespace formats
