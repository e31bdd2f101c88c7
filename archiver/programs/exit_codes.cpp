#include "archiver/programs/exit_codes.h"

#include <span>

namespace programs {

namespace {

// Codes in ascending order; a null text takes the text of the entry before it.
struct Entry {
    int code;
    const char* text;
};

constexpr Entry kPkzip[] = {
    {1, "Bad file name or file specification"},
    {2, "Error in ZIP file"},
    {3, nullptr},
    {4, "Out of memory"},
    {5, nullptr},
    {6, nullptr},
    {7, nullptr},
    {8, nullptr},
    {9, nullptr},
    {10, nullptr},
    {11, nullptr},
    {12, "No files found for specified action"},
    {13, "File not found"},
    {14, ""},
    {15, "ZIP file is read-only and can not be modified"},
    {16, "Bad or illegal parameters specified"},
    {17, "Too many files"},
    {18, "Could not open file"},
    {19, "Out of memory"},
    {20, nullptr},
    {21, nullptr},
    {22, nullptr},
    {23, nullptr},
    {26, "DOS 3.2 or later needed to span disks"},
    {29, "Out of memory"},
};

constexpr Entry kPkunzip[] = {
    {1, "Warning error - View Command Output for details"},
    {2, "Error in ZIP file"},
    {3, nullptr},
    {4, "Out of memory"},
    {5, nullptr},
    {6, nullptr},
    {7, nullptr},
    {8, nullptr},
    {9, "File not found"},
    {10, "Bad or illegal parameters specified"},
    {11, "No files found for specified action"},
    {50, ""},
    {51, "Unexpected EOF in ZIP file"},
};

constexpr Entry kLha[] = {
    {1, "CRC error, insufficient disk space, or files already exists"},
    {2, "Fatal error.  Process terminated without transactions"},
    {3, "Failed to write temporary files in the archive"},
};

constexpr Entry kArj[] = {
    {1, "Warning: e.g. file not found, negative answer to prompt"},
    {2, "Fatal error."},
    {3, "CRC error (header or file CRC error)"},
    {4, "ARJ-SECURITY error or attempt to update an ARJ-SECURED archive"},
    {5, "Disk full or write error"},
    {6, "Cannot open archive or file"},
    {7, "Simple user error (bad parameters)"},
    {8, "Out of memory"},
};

std::span<const Entry> TableOf(ExitTable table) {
    switch (table) {
        case ExitTable::kPkzip:
            return kPkzip;
        case ExitTable::kPkunzip:
            return kPkunzip;
        case ExitTable::kLha:
            return kLha;
        case ExitTable::kArj:
            return kArj;
    }
    return {};
}

}  // namespace

std::optional<std::string> ExitCodeText(ExitTable table, int code) {
    const char* text = "";
    for (const Entry& e : TableOf(table)) {
        if (e.text) text = e.text;
        if (e.code == code) return std::string(text);
    }
    return std::nullopt;
}

std::string ExitCodeMessage(ExitTable table, int code) {
    std::optional<std::string> text = ExitCodeText(table, code);
    if (text) return "Error " + std::to_string(static_cast<unsigned>(code)) + ":\n" + *text;
    if (code == 219) return {};
    return "Unknown error " + std::to_string(code);
}

}  // namespace programs
