// Files encoded for mail as the manager sees them: the files a mail file carries as rows,
// their names checked like member names, extraction, the one archive a mail file may carry
// (decoded to an unlinked temporary file that the readers open by its /proc path), and
// writing an archive encoded for mail beside it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/formats/archive_kind.h"
#include "archiver/mail/mail_file.h"
#include "archiver/shell/listing.h"

namespace shell {

/// Reads and decodes the mail file at `path`; false with the message in `error` (a file too
/// large, an encoding that is damaged, nothing encoded in it).
bool ReadMailFile(const std::string& path, std::vector<mail::Attachment>& files,
                  std::string& error);

/// The kind of the archive when `files` is exactly one file that is an archive of a kind
/// the manager opens (by its name's extension, then by its content); kKindUnknown otherwise.
formats::ArchiveKind SingleArchiveKind(const std::vector<mail::Attachment>& files);

/// A decoded archive in an unlinked temporary file: open while `fd` lives, read through
/// `path`.
struct DecodedArchive {
    engine::UniqueFd fd;
    std::string path;  ///< "/proc/self/fd/N"
};

/// Writes `data` to a new unlinked temporary file; nullopt with the message in `error`.
std::optional<DecodedArchive> WriteDecodedArchive(std::string_view data, std::string& error);

/// The path, below the target folder, that an attachment named `name` is written to: the
/// member-name rules (no "..", leading "/" dropped) and no control characters; nullopt when
/// the name is refused. `junk_paths` keeps the base name only.
std::optional<std::string> AttachmentOutputPath(std::string_view name, bool junk_paths);

/// Rows for the files, dated with the mail file's modification time (`mtime`).
void FillMailListing(const std::vector<mail::Attachment>& files, int64_t mtime, SortOrder sort,
                     Listing& listing);

/// How an extraction reports: a line, and whether it is an error or warning.
using MailSay = std::function<void(bool problem, const std::string& line)>;

/// Writes the files into `folder` (made when missing): refused names and existing files
/// (without `overwrite`) are skipped and said; nothing is written outside `folder`, not
/// even through a symbolic link inside it. Returns 0, or 1 when a file was skipped or
/// could not be written.
int ExtractAttachments(const std::vector<mail::Attachment>& files, const std::string& folder,
                       bool overwrite, bool junk_paths, const MailSay& say);

/// The MIME type of an archive kind ("application/zip", ...).
const char* ArchiveMediaType(formats::ArchiveKind kind);

/// Writes the archive at `archive` encoded in `form` to ARCHIVE.uue / .xxe / .b64 / .eml;
/// the written path, or empty with the message in `error`.
std::string WriteArchiveForMail(const std::string& archive, mail::MailForm form,
                                formats::ArchiveKind kind, std::string& error);

}  // namespace shell
