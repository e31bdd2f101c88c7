// The zip writer: the temporary archive, the preamble, members copied unchanged, members
// written from files (stored or deflated, optionally encrypted), the central directory and end
// record, and replacing the old archive by the new one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "archiver/engine/unzip/file_io.h"
#include "archiver/engine/zip/member_data.h"
#include "archiver/engine/zip/update_reader.h"

namespace zip {

/// Output buffer of the temporary archive: large, so that writing costs one system call per
/// megabyte rather than one or two per member.
constexpr size_t kOutBufferSize = size_t{1} << 20;
/// Block of copies and of stored data.
constexpr size_t kCopyBlock = 57344;
/// Block of the CRC pass that precedes encryption.
constexpr size_t kCrcBlock = 4096;
/// Archives stay below this size and member count; the 64-bit records carry any size and count
/// below them (tests lower them).
constexpr uint64_t kMaxArchiveSize = uint64_t{1} << 62;
constexpr uint64_t kMaxMembers = 0xFFFFFFFF;
/// Version made by: MS-DOS 2.0 with short names, else Unix with the mode in the attributes.
constexpr uint16_t kMadeByDos = 20;
constexpr uint16_t kMadeByUnix = 0x0332;

/// The temporary archive being written: a buffered output that knows its offset.
struct OutArchive {
    engine::UniqueFd fd;
    std::string path;
    std::vector<uint8_t> buf;  ///< kOutBufferSize bytes once used, the first `used` pending
    size_t used = 0;
    uint64_t pos = 0;  ///< bytes written so far (the output offset)
    bool failed = false;
    /// Start each write's way to the disk at once, when the archive is synced at the end: the
    /// disk then works while the run goes on, and the final sync waits for the last part only.
    bool write_behind = false;
    /// Limits checked before each header (tests lower them).
    uint64_t max_size = kMaxArchiveSize;
    uint64_t max_members = kMaxMembers;

    /// Appends bytes; false (and `failed`) when the file refused them.
    bool Write(std::span<const uint8_t> bytes);
    /// Room for `n` bytes at the buffer's end, flushed first when it lacks them, so that data
    /// can be read straight into it; empty when `n` exceeds the buffer or the flush failed.
    std::span<uint8_t> Room(size_t n);
    /// Appends the first `n` bytes of the last Room.
    void Commit(size_t n);
    /// Hands the buffered bytes to the file.
    bool Flush();
    /// Overwrites bytes already written at `at` (a local header); false when the file cannot
    /// be written there.
    bool Rewrite(uint64_t at, std::span<const uint8_t> bytes);
};

/// Creates the temporary archive in `folder` (the current folder when empty) under a fresh
/// name "_Z" + six unique characters; 0 or 10.
int CreateTemp(const std::string& folder, OutArchive& out);
/// The temporary name's template for a folder: folder + "/" + "_ZXXXXXX".
std::string TempTemplate(const std::string& folder);

/// Copies `count` bytes of `in` from `from` to the output in 57,344-byte blocks, counting
/// progress: 0, 2 when the input ends early, 11 on a read error, 10 on a write error.
int CopyBytes(int in, uint64_t from, uint64_t count, OutArchive& out);

/// Copies a member unchanged from the old archive; its new offset is the output offset.
int CopyMember(Member& m, int old_fd, OutArchive& out);

/// Writes a member from its file (m.file_path) under m.name: 0, 18 when the file cannot be
/// read at all, or another result code. `detail` receives the fatal error's text, if any.
int WriteMember(Member& m, OutArchive& out, std::string& detail);

/// The run's settings as one member's writing needs them.
MemberSettings CurrentMemberSettings();
/// Draws the random bytes of one encryption header from the run's source.
HeaderRandomBytes DrawHeaderRandom();

/// Writes the central directory for the members and the end record with the comment; 0, 10
/// or 19 (too many members or too large).
int WriteDirectory(std::span<const Member> members, const std::string& comment, OutArchive& out);

/// The extra field without the blocks that describe the old file (times, Unix owner and
/// mode, NTFS times, zip64 sizes): a rewritten member gets its own.
std::vector<uint8_t> KeepExtraFields(std::span<const uint8_t> extra);

/// Raw name bytes and the UTF-8 flag (bit 11) for a stored name: a name outside ASCII is
/// written as UTF-8 with the flag; bytes that are not valid UTF-8 go as they are, without it.
std::string EncodeName(const std::string& name, uint16_t* flags);

/// Replaces `archive` by `temp` with one rename (across file systems: a copy beside the
/// archive, then a rename); `mode` is the permission the archive gets. 0 or 10, 14, 15.
int ReplaceArchive(const std::string& archive, const std::string& temp, mode_t mode);

}  // namespace zip
