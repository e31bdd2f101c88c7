// ARJ listing: finds the main header (also behind a self-extracting program) and walks the
// file headers, checking each header's CRC-32 and never reading past the file.
#pragma once

#include <string>
#include <vector>

#include "archiver/formats/listed_member.h"

namespace formats {

/// Largest basic header an ARJ archive may have.
constexpr size_t kArjMaxBasicHeader = 2600;
/// How far into the file the main header is searched for.
constexpr uint64_t kArjSearchLimit = 500000;

/// Reads the members of the ARJ archive at `path` (files of type binary and text only);
/// false with the message in `error` ("File does not appear to be a valid ARJ archive",
/// "Bad header", "Header CRC error", or the unexpected-end message). Members read before an
/// error stay in `members`.
bool ReadArjListing(const std::string& path, std::vector<ListedMember>& members,
                    std::string& error);

}  // namespace formats
