// The run for a tar archive: 512-byte headers in the ustar, GNU and pax forms, each regular
// member tested or extracted as stored data through the shared per-member steps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archiver/engine/unzip/unzip.h"

namespace engine {

/// Tests or extracts the tar archive open on `fd`; ends early through EndRun.
void ExtractTar(const UnzipCommand& cmd, int fd, const std::string& archive_name, bool short_names);

/// An octal header field: leading white space skipped, digits 0-7 up to the field's end, a
/// NUL or white space; -1 for any other character or a field without digits.
int64_t ParseTarOctal(std::string_view field);

/// The value of the `path` record of a pax extended header ("length key=value\n" records);
/// empty when there is none or the records are malformed.
std::string PaxPath(std::string_view records);

/// Turns lone line feeds into CR LF and lone carriage returns into CR LF, carrying a CR at the
/// end of one block over to the next. Used for text members when the run asks for it.
class LineEndConverter {
public:
    /// Converts one block; `last` flushes a carriage return left at the end.
    std::string Convert(std::string_view block, bool last);
    /// True when a block begins as text: each of its first 80 bytes is printable, a line
    /// feed, carriage return, tab or form feed.
    static bool LooksLikeText(std::string_view first_block);

private:
    bool pending_cr_ = false;
};

}  // namespace engine
