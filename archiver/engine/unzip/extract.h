// The extraction driver: walks the local headers of a zip archive in file order and tests or
// extracts each member.
#pragma once

#include <string>

#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// Runs the member loop over the open archive; ends early through EndRun.
void ExtractZipMembers(const UnzipCommand& cmd, int archive_fd, const std::string& archive_name,
                       bool short_names);

/// Warning texts for members that are refused rather than written.
extern const char* const kMsgUnsafePath;
extern const char* const kMsgNameTooLong;
extern const char* const kMsgLinkedFolder;

}  // namespace engine
