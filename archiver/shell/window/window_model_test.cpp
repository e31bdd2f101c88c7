#include "archiver/shell/window/window_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace window {
namespace {

using tui::Key;
using tui::MakeKey;

// Every item of a menu tree, depth first.
void Flatten(const std::vector<tui::MenuItem>& items, std::vector<const tui::MenuItem*>& out) {
    for (const tui::MenuItem& m : items) {
        out.push_back(&m);
        Flatten(m.items, out);
    }
}

TEST(WindowMenusTest, EveryCommandHasOneItemAndArchiveCommandsWaitForAnArchive) {
    const int kCommands[] = {3,   4,  114, 43, 83, 112, 85, 87,  88,  89,  111, 47,  7,
                             8,   9,  34,  31, 32, 66,  65, 113, 86,  63,  35,  45,  100,
                             107, 19, 22,  46, 14, 105, 41, 13,  103, 104, 12,  15,  76,
                             84,  20, 21,  29, 25, 108, 77, 26,  24,  116, 5,   106, 101};
    for (bool open : {false, true}) {
        MenuFlags f;
        f.archive_open = open;
        std::vector<tui::MenuItem> bar = BuildMenus(f);
        std::vector<const tui::MenuItem*> all;
        Flatten(bar, all);
        for (int command : kCommands) {
            int found = 0;
            for (const tui::MenuItem* m : all) {
                if (m->command != command) continue;
                ++found;
                EXPECT_EQ(m->enabled, open || !NeedsArchive(command)) << command;
            }
            EXPECT_EQ(found, 1) << "command " << command;
        }
    }
}

TEST(WindowMenusTest, ChecksAndRecentArchivesFollowTheFlags) {
    MenuFlags f;
    f.save_on_exit = false;
    f.reuse_windows = true;
    f.sort_command = kCmdSortSize;
    f.recent = {"/a/b.zip", "/home/someone/archives/with/a/long/path/name.zip", "x&y.zip"};
    std::vector<tui::MenuItem> bar = BuildMenus(f);
    EXPECT_FALSE(tui::FindMenuCommand(bar, kCmdSaveOnExit)->checked);
    EXPECT_TRUE(tui::FindMenuCommand(bar, kCmdReuseWindows)->checked);
    EXPECT_TRUE(tui::FindMenuCommand(bar, kCmdSortSize)->checked);
    EXPECT_FALSE(tui::FindMenuCommand(bar, kCmdSortName)->checked);
    ASSERT_NE(tui::FindMenuCommand(bar, kCmdRecentFirst + 2), nullptr);
    EXPECT_EQ(tui::FindMenuCommand(bar, kCmdRecentFirst)->text, "&1 /a/b.zip");
    EXPECT_EQ(tui::FindMenuCommand(bar, kCmdRecentFirst + 2)->text, "&3 x&&y.zip");
    EXPECT_EQ(tui::FindMenuCommand(bar, kCmdRecentFirst + 3), nullptr);
    // The recent archives come last in the File menu.
    EXPECT_EQ(bar[0].items.back().command, kCmdRecentFirst + 2);
}

TEST(WindowMenusTest, ShortcutTextsInTheMenusAreTheKeysThatWork) {
    // Each "\t" shortcut shown in a menu must reach its own command through CommandForKey.
    struct Case {
        const char* shown;
        Key key;
    };
    const Case kKeys[] = {
        {"Ctrl+N", MakeKey(U'n', false, true)},   {"Ctrl+O", MakeKey(U'o', false, true)},
        {"Ctrl+F", MakeKey(U'f', false, true)},   {"Ctrl+L", MakeKey(U'l', false, true)},
        {"F7", MakeKey(tui::kKeyF1 + 6)},         {"F8", MakeKey(tui::kKeyF1 + 7)},
        {"Ctrl+R", MakeKey(U'r', false, true)},   {"Ctrl+W", MakeKey(U'w', false, true)},
        {"Ctrl+Q", MakeKey(U'q', false, true)},   {"Ctrl+A", MakeKey(U'a', false, true)},
        {"Ctrl+D", MakeKey(U'd', false, true)},   {"Ctrl+E", MakeKey(U'e', false, true)},
        {"Ctrl+V", MakeKey(U'v', false, true)},   {"Ctrl+/", MakeKey(U'/', false, true)},
        {"Ctrl+\\", MakeKey(U'\\', false, true)}, {"Ctrl+S", MakeKey(U's', false, true)},
        {"Ctrl+K", MakeKey(U'k', false, true)},   {"Ctrl+U", MakeKey(U'u', false, true)},
        {"Ctrl+T", MakeKey(U't', false, true)},   {"Ctrl+C", MakeKey(U'c', false, true)},
        {"Ctrl+G", MakeKey(U'g', false, true)},   {"F1", MakeKey(tui::kKeyF1)},
        {"Ctrl+P", MakeKey(U'p', false, true)},   {"Ctrl+Y", MakeKey(U'y', false, true)},
    };
    MenuFlags f;
    f.archive_open = true;
    std::vector<tui::MenuItem> bar = BuildMenus(f);
    std::vector<const tui::MenuItem*> all;
    Flatten(bar, all);
    std::set<std::string> seen;
    for (const tui::MenuItem* m : all) {
        std::string shortcut = tui::MenuShortcut(m->text);
        if (shortcut.empty()) continue;
        bool matched = false;
        for (const Case& c : kKeys) {
            if (shortcut != c.shown) continue;
            matched = true;
            EXPECT_EQ(CommandForKey(c.key), m->command) << shortcut;
        }
        EXPECT_TRUE(matched) << "no key for the shortcut " << shortcut;
        EXPECT_TRUE(seen.insert(shortcut).second) << shortcut << " shown twice";
    }
    // Keys a terminal keeps for itself are not used: Tab and Enter stay the list's.
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyTab)), 0);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyEnter)), 0);
    // Keys without a menu text of their own.
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyDelete)), kCmdDelete);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyF1, false, false, true)), kCmdContents);
    EXPECT_EQ(CommandForKey(MakeKey(tui::kKeyF1 + 3, true)), kCmdExit);
    EXPECT_EQ(CommandForKey(MakeKey(U'n')), 0);
}

TEST(WindowMenusTest, KeyHelpNamesEveryShortcutAndFitsTheViewer) {
    std::string help;
    for (const std::string& line : KeyHelpLines()) {
        EXPECT_LE(line.size(), 76u) << line;  // the help viewer's width on an 80-column screen
        help += line + "\n";
    }
    MenuFlags f;
    std::vector<tui::MenuItem> bar = BuildMenus(f);
    std::vector<const tui::MenuItem*> all;
    Flatten(bar, all);
    for (const tui::MenuItem* m : all) {
        std::string shortcut = tui::MenuShortcut(m->text);
        if (shortcut.empty()) continue;
        EXPECT_NE(help.find(shortcut), std::string::npos) << shortcut;
    }
}

TEST(WindowToolbarTest, ButtonsFromAddOnWaitForAnArchive) {
    const char* kTexts[] = {"new",     "open", "favorite",  "add",
                            "extract", "View", "check_out", "wizard"};
    for (bool open : {false, true}) {
        std::vector<tui::ToolButton> b = BuildToolbar(open);
        ASSERT_EQ(b.size(), 8u);
        for (size_t i = 0; i < b.size(); ++i) {
            EXPECT_EQ(b[i].text, kTexts[i]);
            EXPECT_EQ(b[i].enabled, open || i < 3) << b[i].text;
        }
    }
}

TEST(WindowSortTest, EachSortCommandHasItsOrderBothWays) {
    const std::pair<int, shell::SortOrder> kPairs[] = {
        {14, shell::SortOrder::kName},    {105, shell::SortOrder::kPath},
        {41, shell::SortOrder::kType},    {13, shell::SortOrder::kSize},
        {103, shell::SortOrder::kPacked}, {104, shell::SortOrder::kRatio},
        {12, shell::SortOrder::kDate},    {15, shell::SortOrder::kOriginal}};
    for (auto [command, order] : kPairs) {
        shell::SortOrder got = shell::SortOrder::kOriginal;
        EXPECT_TRUE(SortForCommand(command, got));
        EXPECT_EQ(got, order);
        EXPECT_EQ(CommandForSort(order), command);
    }
    shell::SortOrder got;
    EXPECT_FALSE(SortForCommand(kCmdExtract, got));
}

TEST(WindowStatusTest, SelectionAndTotalsOrTheNoArchiveText) {
    shell::Listing l;
    std::string error;
    ASSERT_TRUE(shell::AddRow(l, "a.txt", false, 0, 1000, 500, 0, error));
    ASSERT_TRUE(shell::AddRow(l, "b.txt", false, 0, 2000, 500, 0, error));
    ASSERT_TRUE(shell::AddRow(l, "c.txt", false, 0, 1, 1, 0, error));
    shell::FinishListing(l);
    struct Case {
        bool open;
        std::vector<size_t> selected;
        std::string want;
    };
    const Case kCases[] = {
        {false, {}, "Choose \"New\" to create or \"Open\" to open an archive"},
        {true, {}, "Selected 0 files, 0 bytes    Total 3 files, 3KB"},
        {true, {2}, "Selected 1 file, 1 bytes    Total 3 files, 3KB"},
        {true, {0, 1}, "Selected 2 files, 3KB    Total 3 files, 3KB"},
        {true, {0, 7}, "Selected 2 files, 1,000 bytes    Total 3 files, 3KB"},
    };
    for (const Case& c : kCases) EXPECT_EQ(StatusText(c.open, l, c.selected), c.want);
    // A row of unknown size makes the selection's size unknown.
    ASSERT_TRUE(shell::AddRow(l, "d.txt", false, 0, shell::kUnknownSize, 5, 0, error));
    shell::FinishListing(l);
    EXPECT_EQ(StatusText(true, l, {0, 3}).substr(0, 21), "Selected 2 files, ? b");
}

TEST(WindowRecentTest, ListKeepsFiveNewestFirstAndShortensLongPaths) {
    std::vector<std::string> list;
    for (int i = 1; i <= 7; ++i) AddRecent(list, "/a/" + std::to_string(i) + ".zip");
    AddRecent(list, "/a/5.zip");
    EXPECT_EQ(list, (std::vector<std::string>{"/a/5.zip", "/a/7.zip", "/a/6.zip", "/a/4.zip",
                                              "/a/3.zip"}));
    RemoveRecent(list, "/a/4.zip");
    EXPECT_EQ(list.size(), 4u);
    struct Case {
        std::string path, want;
    };
    const Case kCases[] = {
        {"/a/b.zip", "&1 /a/b.zip"},
        {"/home/someone/archives/2026/december/backup.zip", "&1 /home/.../backup.zip"},
        {"relative/folder/with/a/long/name/x.zip", "&1 relative/.../x.zip"},
        {"/h/" + std::string(40, 'n') + ".zip", "&1 /.../" + std::string(40, 'n') + ".zip"},
    };
    for (const Case& c : kCases) EXPECT_EQ(RecentMenuText(0, c.path), c.want) << c.path;
}

TEST(WindowRecentTest, SettingsRoundTripStopsAtTheFirstEmptyKey) {
    std::string dir = testing::TempDir() + "/recent_test";
    std::filesystem::create_directories(dir);
    std::string ini = dir + "/borvan32.ini";
    {
        std::ofstream f(ini);
        f << "[Borvan]\nSaveSettings=1\n[filemenu]\nfilemenu1=/x/one.zip\nfilemenu2=\n"
             "filemenu3=/x/three.zip\n[other]\nkeep=1\n";
    }
    EXPECT_EQ(ReadRecent(ini), std::vector<std::string>{"/x/one.zip"});
    ASSERT_TRUE(WriteRecent(ini, {"/y/a.zip", "/y/b.zip"}));
    EXPECT_EQ(ReadRecent(ini), (std::vector<std::string>{"/y/a.zip", "/y/b.zip"}));
    std::ifstream in(ini);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("keep=1"), std::string::npos);
    EXPECT_NE(all.find("SaveSettings=1"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace window
