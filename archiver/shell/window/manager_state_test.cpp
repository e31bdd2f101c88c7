#include "archiver/shell/window/manager_state.h"

#include <gtest/gtest.h>

namespace window {
namespace {

// A window with an open archive of four rows, in load order.
void OpenFourRows() {
    Manager& m = App();
    m.listing = shell::Listing{};
    std::string error;
    struct Member {
        const char* name;
        uint64_t size;
        uint32_t when;
    };
    const Member kMembers[] = {{"b/zeta.txt", 10, 0x50000000},
                               {"alpha.txt", 4000, 0x52000000},
                               {"a/mid.bin", 300, 0x51000000},
                               {"omega.c", 20, 0x53000000}};
    for (const Member& mem : kMembers)
        ASSERT_TRUE(
            shell::AddRow(m.listing, mem.name, false, mem.when, mem.size, mem.size / 2, 0, error));
    m.listing.sort = shell::SortOrder::kOriginal;
    shell::FinishListing(m.listing);
    m.open = true;
    m.archive = "/nowhere/t.zip";
    m.list.model = tui::ListModel{};
    m.list.model.multiple = true;
    m.list.model.SetCount(m.listing.order.size());
}

std::vector<std::string> DisplayNames() {
    std::vector<std::string> names;
    for (size_t i : App().listing.order) names.push_back(App().listing.rows[i].name);
    return names;
}

TEST(ManagerSortTest, SortingKeepsTheSelectionAndTheCursorOnTheirMembers) {
    OpenFourRows();
    Manager& m = App();
    m.list.model.Toggle(1);  // alpha.txt
    m.list.model.Toggle(3);  // omega.c
    m.list.model.MoveTo(2);  // a/mid.bin
    struct Case {
        shell::SortOrder order;
        std::vector<std::string> want;
    };
    const Case kCases[] = {
        {shell::SortOrder::kSize, {"alpha.txt", "a/mid.bin", "omega.c", "b/zeta.txt"}},
        {shell::SortOrder::kName, {"alpha.txt", "a/mid.bin", "omega.c", "b/zeta.txt"}},
        {shell::SortOrder::kDate, {"omega.c", "alpha.txt", "a/mid.bin", "b/zeta.txt"}},
        {shell::SortOrder::kPath, {"alpha.txt", "omega.c", "a/mid.bin", "b/zeta.txt"}},
        {shell::SortOrder::kOriginal, {"b/zeta.txt", "alpha.txt", "a/mid.bin", "omega.c"}},
    };
    for (const Case& c : kCases) {
        ApplySort(c.order);
        EXPECT_EQ(DisplayNames(), c.want);
        std::vector<std::string> selected = SelectedNames(false);
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(selected, (std::vector<std::string>{"alpha.txt", "omega.c"}));
        const shell::Row& cursor = m.listing.rows[m.listing.order[m.list.model.cursor]];
        EXPECT_EQ(cursor.name, "a/mid.bin");
        EXPECT_EQ(m.sort, c.order);
    }
}

TEST(ManagerSelectionTest, CursorRowStandsInOnlyWhenAskedAndNothingIsSelected) {
    OpenFourRows();
    Manager& m = App();
    m.list.model.MoveTo(3);
    EXPECT_TRUE(SelectedNames(false).empty());
    EXPECT_EQ(SelectedNames(true), std::vector<std::string>{"omega.c"});
    // Shift+Up extends from the anchor; Space toggles; Ctrl+/ and Ctrl+\ are commands.
    m.list.model.HandleKey(tui::MakeKey(tui::kKeyUp, false, false, true));
    EXPECT_EQ(SelectedNames(false), (std::vector<std::string>{"a/mid.bin", "omega.c"}));
    m.list.model.HandleKey(tui::MakeKey(U' '));
    EXPECT_EQ(SelectedNames(false), std::vector<std::string>{"omega.c"});
    RunCommand(kCmdSelectAll);
    EXPECT_EQ(SelectedNames(false).size(), 4u);
    EXPECT_EQ(StatusText(true, m.listing, SelectedRows(false)),
              "Selected 4 files, 5KB    Total 4 files, 5KB");
    RunCommand(kCmdDeselectAll);
    EXPECT_TRUE(SelectedNames(false).empty());
    // Without an open archive nothing is selected and the commands that need one do nothing.
    m.open = false;
    EXPECT_TRUE(SelectedNames(true).empty());
    RunCommand(kCmdSelectAll);
    EXPECT_EQ(m.message, kNoArchiveText);
    m.message.clear();
}

}  // namespace
}  // namespace window
