// The listing as one JSON document for scripts: the archive and each member, with every name
// escaped so that any stored byte survives the trip.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archiver/shell/listing.h"

namespace shell {

/// What the document says of the archive file beside what the listing holds.
struct JsonArchive {
    std::string path;        ///< as given on the command line
    std::string kind;        ///< "zip", "tar", "tar+gzip", "gzip", "arj", ...
    uint64_t file_size = 0;  ///< the archive file's size in bytes
    bool complete = true;    ///< false when the listing ended early
    std::string error;       ///< why it ended early
};

/// Appends `text` as a JSON string (quotes included). Valid UTF-8 is kept as it is; control
/// characters, DEL, U+0080-U+009F, U+2028 and U+2029 become \n, \t, ... or \uXXXX; every byte
/// that is not part of valid UTF-8 becomes \uDCXX (XX the byte), so that decoding the string
/// and encoding it back with lone surrogates U+DC80-U+DCFF as single bytes gives the original
/// bytes (Python: `s.encode("utf-8", "surrogateescape")`).
void AppendJsonString(std::string& out, std::string_view text);

/// A modification time in ISO 8601: "YYYY-MM-DDTHH:MM:SSZ" for a time stored as seconds since
/// 1970 (UTC), "YYYY-MM-DDTHH:MM:SS" (local time, as stored) for an MS-DOS time; empty when
/// the stored fields are not a date.
std::string IsoTime(const Row& row);

/// The document: {"archive": {...}, "members": [{...}, ...]} with the members in display
/// order and a line feed at the end. Only member objects have a "name" key.
std::string JsonListing(const Listing& listing, const JsonArchive& archive);

}  // namespace shell
