#include "archiver/programs/exit_codes.h"

#include <gtest/gtest.h>

namespace programs {
namespace {

TEST(ExitCodes, MessagesPerTable) {
    struct Case {
        ExitTable table;
        int code;
        const char* message;
    } cases[] = {
        {ExitTable::kArj, 1, "Error 1:\nWarning: e.g. file not found, negative answer to prompt"},
        {ExitTable::kArj, 7, "Error 7:\nSimple user error (bad parameters)"},
        {ExitTable::kArj, 8, "Error 8:\nOut of memory"},
        {ExitTable::kArj, 9, "Unknown error 9"},
        {ExitTable::kLha, 2, "Error 2:\nFatal error.  Process terminated without transactions"},
        {ExitTable::kLha, 4, "Unknown error 4"},
        // Codes without their own text take the text of the entry before them.
        {ExitTable::kPkzip, 3, "Error 3:\nError in ZIP file"},
        {ExitTable::kPkzip, 11, "Error 11:\nOut of memory"},
        {ExitTable::kPkzip, 23, "Error 23:\nOut of memory"},
        {ExitTable::kPkzip, 14, "Error 14:\n"},
        {ExitTable::kPkzip, 24, "Unknown error 24"},
        {ExitTable::kPkzip, 26, "Error 26:\nDOS 3.2 or later needed to span disks"},
        {ExitTable::kPkunzip, 8, "Error 8:\nOut of memory"},
        {ExitTable::kPkunzip, 50, "Error 50:\n"},
        {ExitTable::kPkunzip, 51, "Error 51:\nUnexpected EOF in ZIP file"},
        {ExitTable::kPkunzip, 12, "Unknown error 12"},
        // 219 without an entry says nothing.
        {ExitTable::kArj, 219, ""},
        {ExitTable::kPkzip, 219, ""},
        {ExitTable::kArj, -1, "Unknown error -1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExitCodeMessage(c.table, c.code), c.message)
            << static_cast<int>(c.table) << " " << c.code;
}

}  // namespace
}  // namespace programs
