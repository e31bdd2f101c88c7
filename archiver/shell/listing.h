// The rows of an open archive: adding members as rows, the ratio, the sort orders, the texts
// of each column and of the status line, and the directory look-up the engine asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/engine/unzip/zip_directory.h"

namespace shell {

/// A size that is not known.
constexpr uint64_t kUnknownSize = UINT64_MAX;
/// Longest member name a row holds, in characters.
constexpr size_t kMaxRowName = 260;

/// File type classes (choose a row's icon).
constexpr uint16_t kTypeProgram = 1;
constexpr uint16_t kTypeDocument = 2;
constexpr uint16_t kTypeOther = 3;

/// A modification time that the archive does not store as seconds since 1970.
constexpr int64_t kNoUnixTime = INT64_MIN;

/// One listed member.
struct Row {
    uint64_t uncompressed = kUnknownSize;
    uint64_t compressed = kUnknownSize;
    uint32_t crc = 0;
    uint32_t ratio = 0;         ///< percentage saved
    uint32_t dos_datetime = 0;  ///< MS-DOS date high, time low
    bool encrypted = false;
    uint32_t unix_mode = 0;        ///< type and permission bits of a member made on Unix, or 0
    std::string link_target;       ///< what a symbolic link member points to
    std::optional<int64_t> mtime;  ///< UTC seconds from an extended-time or NTFS field
    uint16_t base_offset = 0;      ///< index of the base name in `name`
    uint16_t type_class = kTypeOther;
    std::string name;  ///< UTF-8, `/` between folders
    /// Upper-case copy of `name` for sorting, made only when the name has non-ASCII bytes
    /// (plain ASCII names fold as they are compared).
    std::string sort_name;
    // What the JSON listing adds to the columns.
    std::string raw_name;             ///< stored name bytes when they differ from `name`
    std::string method;               ///< compression method name; empty when not known
    uint8_t crc_bits = 32;            ///< `crc` is a CRC-32 (32), a CRC-16 (16) or absent (0)
    int64_t unix_time = kNoUnixTime;  ///< stored time in seconds since 1970 (UTC)
    int32_t attributes = -1;          ///< MS-DOS attribute bits; -1 when not stored
    int32_t mode = -1;                ///< Unix mode bits; -1 when not stored
    bool folder = false;              ///< a folder entry (only in a listing that keeps them)
};

/// What a reader knows of a member beyond the columns; AddMember takes it.
struct MemberRecord {
    std::string_view name;      ///< UTF-8
    std::string_view raw_name;  ///< stored bytes, when they differ from `name`
    bool encrypted = false;
    bool folder = false;  ///< a folder entry whose name need not end in a separator
    uint32_t dos_datetime = 0;
    uint64_t uncompressed = kUnknownSize;
    uint64_t compressed = kUnknownSize;
    uint32_t crc = 0;
    uint8_t crc_bits = 32;
    std::string_view method;
    int64_t unix_time = kNoUnixTime;
    int32_t attributes = -1;
    int32_t mode = -1;
};

/// Sort orders of the list.
enum class SortOrder { kOriginal, kName, kDate, kSize, kType, kPacked, kRatio, kPath };

/// The rows of the open archive and what the status line and the engine need from them.
struct Listing {
    std::vector<Row> rows;      ///< load order
    std::vector<size_t> order;  ///< display order (indexes into rows)
    SortOrder sort = SortOrder::kOriginal;
    uint64_t total_uncompressed = 0;  ///< kUnknownSize once one size is unknown
    uint64_t total_compressed = 0;
    bool long_names = false;        ///< a component is not a valid 8.3 name
    bool has_program_copy = false;  ///< holds a copy of this program or its setup file
    bool cut_short = false;         ///< a member could not be made a row: the rows end before it
    bool bad_volume = false;        ///< a volume of a split archive is missing or belongs elsewhere
    /// Folder entries become rows (with `folder` set) instead of being left out. Set it before
    /// loading: the loaders keep it.
    bool keep_folders = false;
    std::optional<std::string> comment;  ///< the archive's comment, as stored
    engine::DirectoryFacts facts;
};

/// Empties a listing for a fresh load in order `sort`, keeping `keep_folders`.
void ResetListing(Listing& listing, SortOrder sort);

/// Percentage saved, rounded half up; 0 when nothing was saved or the size is 0 or unknown.
uint32_t Ratio(uint64_t uncompressed, uint64_t compressed);

/// The name whose first six characters mark a member as a copy of this program: the
/// program's own file name (read from the system at first use unless set).
void SetOwnProgramName(std::string_view file_name);
/// The name in use for that check.
const std::string& OwnProgramName();

/// Upper case of a UTF-8 name for sorting: letters of every script that has case are
/// converted; invalid bytes stay as they are.
std::string UpperSortName(std::string_view name);

/// Adds a row; false with a message in `error` when the name is too long for a row. A folder
/// entry (or a name ending in a separator) adds no row and succeeds unless the listing keeps
/// folders.
bool AddMember(Listing& listing, const MemberRecord& member, std::string& error);
/// AddMember with the column fields only.
bool AddRow(Listing& listing, std::string_view name, bool encrypted, uint32_t dos_datetime,
            uint64_t uncompressed, uint64_t compressed, uint32_t crc, std::string& error);
/// Builds the display order, sorted unless the order is kOriginal.
void FinishListing(Listing& listing);
/// Parses a sort order name ("name", "date", ...); false when unknown.
bool ParseSortOrder(std::string_view text, SortOrder& order);

/// Reads a zip archive's directory into a fresh listing; false with the message on failure.
bool LoadZipListing(const std::string& path, SortOrder sort, Listing& listing, std::string& error);

/// Regional settings of the Date, Time and Size columns.
struct IntlFormat {
    std::string date_order = "mdy";
    char date_sep = '/';
    char time_sep = ':';
    std::string thousand_sep = ",";
};

/// Column titles, in display order.
extern const char* const kColumnTitles[7];
/// The Name column: base name, "+" when encrypted; control characters spelt out (^J).
std::string NameText(const Row& row);
/// The Date column ("bad date" when longer than 8 characters).
std::string DateText(uint32_t dos_datetime, const IntlFormat& intl = {});
/// The Time column.
std::string TimeText(uint32_t dos_datetime, const IntlFormat& intl = {});
/// A size grouped by threes; "?" when unknown.
std::string SizeText(uint64_t size, const IntlFormat& intl = {});
/// The Ratio column: "NN%" or "?".
std::string RatioText(const Row& row);
/// The Path column: the folder part of the name, control characters spelt out.
std::string PathText(const Row& row);
/// "Total %u file%s, %s" over all rows.
std::string TotalText(const Listing& listing, const IntlFormat& intl = {});
/// "Selected %u file%s, %s" for a count and a size.
std::string SelectedText(uint64_t count, uint64_t size, const IntlFormat& intl = {});

/// The engine's directory look-up: the first row in display order whose name equals `name`
/// ignoring case; which 0 gives its compressed size, 1 its CRC-32; 0 when none.
uint32_t LookUpRow(const Listing& listing, std::string_view name, int which);

}  // namespace shell
