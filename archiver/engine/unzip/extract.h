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
/// A member below a folder that is a link leading inside the target: still never written
/// through.
extern const char* const kMsgLinkFolder;
/// A stored link whose target is absolute or leads outside the target folder.
extern const char* const kMsgLinkLeaves;
/// A stored link that could not be created.
extern const char* const kMsgLinkNotMade;

}  // namespace engine
