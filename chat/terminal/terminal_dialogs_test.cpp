#include "chat/terminal/terminal_dialogs.h"

#include <gtest/gtest.h>

namespace chat {
namespace {

TEST(TerminalDialogsTest, FilePatternsSplitIntoFolderAndFiles) {
    const struct {
        const char* pattern;
        const char* folder;
        const char* files;
    } cases[] = {
        {"/home/me/.config/vesk32/*", "/home/me/.config/vesk32/", "*"},
        {"/home/me/*.*", "/home/me/", "*"},
        {"/srv/logs/*.log", "/srv/logs/", "*.log"},
        {"/srv/logs/", "/srv/logs/", ""},
        {"*.txt", "", "*.txt"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const auto [folder, files] = SplitFilePattern(c.pattern);
        EXPECT_EQ(folder, c.folder) << c.pattern;
        EXPECT_EQ(files, c.files) << c.pattern;
    }
}

}  // namespace
}  // namespace chat
