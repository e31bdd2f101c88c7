#include "archiver/engine/zip/selection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <utility>

namespace zip {
namespace {

namespace fs = std::filesystem;

TEST(SelectionNames, PatternsSplitAtTheLastDot) {
    EXPECT_TRUE(names_match("*.*", "a.txt", false));
    EXPECT_TRUE(names_match("*.*", "noext", false));
    EXPECT_TRUE(names_match("*.*", "a.b.c", false));
    EXPECT_TRUE(names_match("*", "noext", false));
    EXPECT_FALSE(names_match("*", "a.txt", false));
    EXPECT_TRUE(names_match("*.txt", "a.b.txt", false));
    EXPECT_FALSE(names_match("*.txt", "a.txt.gz", false));
    EXPECT_TRUE(names_match("?.c", "x.c", false));
    EXPECT_TRUE(names_match("?.c", "\xC3\xA9.c", false));  // one character, two bytes
    EXPECT_FALSE(names_match("?.c", "xy.c", false));
    EXPECT_TRUE(names_match("a*b*c", "aXbYbZc", false));
    EXPECT_TRUE(names_match("a\\*", "a*", false));
    EXPECT_FALSE(names_match("a\\*", "ab", false));
    EXPECT_TRUE(names_match("abc.", "abc", false));
    // Disk names compare exactly, member names with letters folded.
    EXPECT_FALSE(names_match("*.TXT", "a.txt", false));
    EXPECT_TRUE(names_match("*.TXT", "a.txt", true));
    EXPECT_FALSE(names_match("README", "readme", false));
    EXPECT_TRUE(names_match("README", "readme", true));
    EXPECT_LT(compare_folded("ABC", "abd"), 0);
    EXPECT_EQ(compare_folded("Dir/File", "dir/file"), 0);
}

TEST(SelectionNames, StoredNamesStayRelativeAndInsideTheTarget) {
    StoredNameRules folders;
    folders.store_folders = true;
    bool short_flag = true;
    EXPECT_EQ(stored_name(folders, "/home/u/a.txt", false, &short_flag), "home/u/a.txt");
    EXPECT_FALSE(short_flag);
    EXPECT_EQ(stored_name(folders, "../../etc/passwd", false, nullptr), "etc/passwd");
    EXPECT_EQ(stored_name(folders, "a/./b/../c", false, nullptr), "a/b/c");
    // A backslash on disk is part of a name; the pieces it parts never climb out either.
    const struct {
        const char* path;
        const char* stored;
    } backslashes[] = {
        {"a\\b\\c.txt", "a\\b\\c.txt"},
        {"dir/x\\y.txt", "dir/x\\y.txt"},
        {"..\\..\\etc\\passwd", "etc\\passwd"},
        {"\\root\\.\\f", "root\\f"},
        {"a\\\\b", "a\\b"},
        {"..\\", ""},
    };
    for (const auto& c : backslashes)
        EXPECT_EQ(stored_name(folders, c.path, false, nullptr), c.stored) << c.path;
    EXPECT_EQ(stored_name(folders, "dir/", true, nullptr), "dir/");
    EXPECT_EQ(stored_name(folders, "..", true, nullptr), "");
    EXPECT_EQ(stored_name(folders, "notes.", false, nullptr), "notes");

    StoredNameRules junk;
    EXPECT_EQ(stored_name(junk, "/data/x/report.doc", false, nullptr), "report.doc");
    EXPECT_EQ(stored_name(junk, "dir/", true, nullptr), "");

    StoredNameRules below;
    below.recurse = true;
    below.base_set = true;
    below.base_folder = "src/lib";
    EXPECT_EQ(stored_name(below, "src/lib/sub/a.c", false, nullptr), "sub/a.c");
    EXPECT_EQ(stored_name(below, "src/library/a.c", false, nullptr), "src/library/a.c");

    StoredNameRules dos;
    dos.store_folders = true;
    dos.short_names = true;
    EXPECT_EQ(stored_name(dos, "Long File Name.text", false, &short_flag), "LONGFILE.TEX");
    EXPECT_TRUE(short_flag);
    EXPECT_EQ(stored_name(dos, "my.dir/a+b;c[1].html", false, nullptr), "MY.DIR/A_B_C_1_.HTM");
    EXPECT_EQ(stored_name(dos, "sub folder/", true, nullptr), "SUBFOLDE/");
    // Cut by characters, not bytes; only a-z change case.
    EXPECT_EQ(short_form("\xC3\xA9t\xC3\xA9 long name.txt"), "\xC3\xA9T\xC3\xA9LONGN.TXT");
}

/// A temporary tree, removed with everything in it.
struct TempTree {
    fs::path root;
    TempTree() {
        char tmpl[] = "/tmp/selection_test_XXXXXX";
        root = mkdtemp(tmpl);
    }
    ~TempTree() { fs::remove_all(root); }
    void file(const std::string& rel, const std::string& content = "x") {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << content;
    }
    std::string path(const std::string& rel) const { return (root / rel).string(); }
};

struct Cwd {
    fs::path old = fs::current_path();
    explicit Cwd(const fs::path& to) { fs::current_path(to); }
    ~Cwd() { fs::current_path(old); }
};

std::set<std::string> StoredNames(const Selection& sel) {
    std::set<std::string> names;
    for (const FoundFile& f : sel.found) names.insert(f.stored_name);
    return names;
}

/// Members kept as plain names, marked by selection.
struct FakeMembers final : SelectionMembers {
    std::vector<std::string> names;
    std::vector<std::string> paths;  // set by take_file
    std::vector<bool> marked;
    explicit FakeMembers(std::vector<std::string> n)
        : names(std::move(n)), paths(names.size()), marked(names.size()) {}
    size_t mark_matching(std::string_view pattern) override {
        size_t count = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            if (names_match(pattern, names[i], true)) marked[i] = true, ++count;
        }
        return count;
    }
    bool take_file(std::string_view name, const std::string& path, bool short_name) override {
        for (size_t i = 0; i < names.size(); ++i) {
            bool same = short_name ? compare_folded(names[i], name) == 0 : names[i] == name;
            if (same) {
                marked[i] = true;
                paths[i] = path;
                return true;
            }
        }
        return false;
    }
};

class SelectionTree : public ::testing::Test {
protected:
    TempTree t;
    void SetUp() override {
        t.file("a.txt");
        t.file("b.c", "12345");
        t.file("noext");
        t.file(".hidden");
        t.file("sub/c.txt");
        t.file("sub/.dot/d.txt");
        t.file("sub/deep/e.txt");
        fs::create_directory_symlink(t.root / "sub", t.root / "link_to_sub");
        fs::create_directory_symlink(t.root, t.root / "sub" / "loop");
    }
};

TEST_F(SelectionTree, WildcardsSkipDotNamesAndFolders) {
    Cwd cwd(t.root);
    Selection sel;
    sel.follow_links = true;
    ASSERT_EQ(expand_pattern(sel, "*.*", true), 0);
    EXPECT_EQ(StoredNames(sel), (std::set<std::string>{"a.txt", "b.c", "noext"}));
    EXPECT_EQ(sel.progress_total, 7u);

    Selection bare;
    bare.follow_links = true;
    ASSERT_EQ(expand_pattern(bare, "*", true), 0);
    EXPECT_EQ(StoredNames(bare), (std::set<std::string>{"noext"}));

    Selection none;
    EXPECT_EQ(expand_pattern(none, "*.none", true), -1);
    EXPECT_EQ(expand_pattern(none, "*/x.txt", true), 16);
}

TEST_F(SelectionTree, RecursionNeverFollowsLinksToFolders) {
    Cwd cwd(t.root);
    Selection sel;
    sel.recurse = true;
    sel.store_folders = true;
    ASSERT_EQ(expand_pattern(sel, "*.txt", true), 0);
    EXPECT_EQ(StoredNames(sel), (std::set<std::string>{"a.txt", "sub/c.txt", "sub/deep/e.txt"}));

    // Without folder names, names below the pattern's folder are kept relative to it.
    Selection rel;
    rel.recurse = true;
    ASSERT_EQ(expand_pattern(rel, t.path("sub") + "/*.txt", true), 0);
    EXPECT_EQ(StoredNames(rel), (std::set<std::string>{"c.txt", "deep/e.txt"}));
}

TEST_F(SelectionTree, NamedFolderTakesEverythingInsideIt) {
    Cwd cwd(t.root);
    Selection sel;
    sel.recurse = true;
    sel.store_folders = true;
    sel.follow_links = true;
    ASSERT_EQ(select_name(sel, "sub"), 0);
    EXPECT_EQ(StoredNames(sel),
              (std::set<std::string>{"sub/", "sub/c.txt", "sub/.dot/", "sub/.dot/d.txt",
                                     "sub/deep/", "sub/deep/e.txt"}));
    EXPECT_EQ(sel.entered_folders.size(), 3u);

    Selection dot;
    dot.recurse = true;
    dot.store_folders = true;
    ASSERT_EQ(select_name(dot, "."), 0);
    for (const FoundFile& f : dot.found) {
        EXPECT_NE(f.stored_name.substr(0, 2), "./") << f.stored_name;
        EXPECT_EQ(f.stored_name.find("link_to_sub/"), std::string::npos) << f.stored_name;
    }
    EXPECT_EQ(StoredNames(dot).count(".hidden"), 1u);
}

TEST_F(SelectionTree, LinksAreFoundAsThemselvesUnlessFollowed) {
    Cwd cwd(t.root);
    Selection sel;
    sel.recurse = true;
    sel.store_folders = true;
    ASSERT_EQ(select_name(sel, "sub"), 0);
    ASSERT_EQ(select_name(sel, "link_to_sub"), 0);
    // Each link is one member, written, and never entered (so "loop" cannot loop).
    EXPECT_EQ(StoredNames(sel),
              (std::set<std::string>{"sub/", "sub/c.txt", "sub/.dot/", "sub/.dot/d.txt",
                                     "sub/deep/", "sub/deep/e.txt", "sub/loop", "link_to_sub"}));
    for (const FoundFile& f : sel.found)
        if (f.stored_name == "sub/loop" || f.stored_name == "link_to_sub") {
            EXPECT_TRUE(f.regular) << f.stored_name;
        }
}

TEST_F(SelectionTree, ArchiveItselfAndExistingMembers) {
    t.file("arch.zip");
    Cwd cwd(t.root);
    FakeMembers members({"A.TXT", "b.c", "gone.txt"});
    Selection sel;
    sel.follow_links = true;
    sel.archive_path = t.path("arch.zip");
    sel.members = &members;
    ASSERT_EQ(expand_pattern(sel, "*.*", true), 0);
    EXPECT_EQ(StoredNames(sel), (std::set<std::string>{"a.txt", "noext"}));
    EXPECT_TRUE(members.marked[1]);
    EXPECT_EQ(members.paths[1], "b.c");
    EXPECT_FALSE(members.marked[0]);  // disk names are not folded without short names

    FakeMembers dos({"A.TXT"});
    Selection sel8;
    sel8.short_names = true;
    sel8.members = &dos;
    ASSERT_EQ(select_name(sel8, "a.txt"), 0);
    EXPECT_TRUE(dos.marked[0]);

    // Delete marks members by pattern with case folded; a missing file does the same.
    FakeMembers del({"A.TXT", "b.c", "sub/x.TXT"});
    Selection d;
    d.delete_action = true;
    d.store_folders = true;
    d.members = &del;
    std::vector<std::string> names = {"*.txt", "nothing"};
    std::vector<std::string> warnings;
    d.warn = [&](std::string_view text, std::string_view name) {
        warnings.push_back(std::string(text) + std::string(name));
    };
    EXPECT_EQ(select_names(d, names).result, 0);
    EXPECT_EQ(del.marked, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(warnings, (std::vector<std::string>{"name not matched: nothing"}));
}

// What the walk saw of each file is what the run filters on: its size, whether it is a
// regular file, and the archive recognised under any of its names.
TEST_F(SelectionTree, FoundFilesKeepWhatTheWalkSaw) {
    t.file("arch.zip", "zip bytes");
    fs::create_hard_link(t.path("arch.zip"), t.path("same.zip"));
    ASSERT_EQ(mkfifo(t.path("pipe").c_str(), 0600), 0);
    Cwd cwd(t.root);
    Selection sel;
    sel.archive_path = t.path("arch.zip");
    ASSERT_EQ(expand_pattern(sel, "*.*", true), 0);
    std::map<std::string, std::pair<bool, uint64_t>> seen;
    for (const FoundFile& f : sel.found) seen[f.stored_name] = {f.regular, f.size};
    EXPECT_EQ(seen.count("arch.zip") + seen.count("same.zip"), 0u);
    EXPECT_EQ(seen["b.c"], std::make_pair(true, uint64_t{5}));
    ASSERT_EQ(seen.count("pipe"), 1u);
    EXPECT_FALSE(seen["pipe"].first);
    // With another archive the old one's file is an ordinary file again.
    sel.found.clear();
    sel.archive_path = t.path("other.zip");
    ASSERT_EQ(select_name(sel, "same.zip"), 0);
    ASSERT_EQ(sel.found.size(), 1u);
    EXPECT_TRUE(sel.found[0].regular);
    EXPECT_EQ(sel.found[0].size, 9u);
}

TEST_F(SelectionTree, DuplicatesAreDroppedOrRefused) {
    Cwd cwd(t.root);
    Selection sel;
    sel.recurse = true;
    std::vector<std::string> names = {"a.txt", "a.txt"};
    ASSERT_EQ(select_names(sel, names).result, 0);
    // The plain name with recursion also looks for a.txt in every folder below.
    EXPECT_EQ(check_duplicates(sel), 0);
    EXPECT_EQ(sel.found.size(), 1u);

    Selection clash;
    std::vector<std::string> warnings;
    clash.warn = [&](std::string_view text, std::string_view name) {
        warnings.push_back(std::string(text) + std::string(name));
    };
    std::vector<std::string> two = {"a.txt", "sub/c.txt", t.path("sub/deep/e.txt"), "x/../a.txt"};
    t.file("x/placeholder");
    ASSERT_EQ(select_names(clash, two).result, 0);
    EXPECT_EQ(check_duplicates(clash), 16);
    EXPECT_EQ(warnings, (std::vector<std::string>{"name in zip file repeated: a.txt",
                                                  "  first full name: a.txt",
                                                  " second full name: x/../a.txt"}));
}

// With 8.3 names, long names that shorten alike are common: the file found first keeps the
// name, each later one is left out with a warning naming both, and the run goes on.
TEST_F(SelectionTree, ShortNameClashRefusesTheLaterFile) {
    Cwd cwd(t.root);
    t.file("CMakeLists.txt");
    t.file("CMakeListsOld.txt");
    t.file("CMakeListsNew.txt");
    Selection sel;
    sel.short_names = true;
    std::vector<std::string> warnings;
    sel.warn = [&](std::string_view text, std::string_view name) {
        warnings.push_back(std::string(text) + std::string(name));
    };
    std::vector<std::string> names = {"CMakeListsOld.txt", "a.txt", "CMakeLists.txt",
                                      "CMakeListsNew.txt", "CMakeListsOld.txt"};
    ASSERT_EQ(select_names(sel, names).result, 0);
    EXPECT_EQ(check_duplicates(sel), 0);
    std::vector<std::string> kept;
    for (const FoundFile& f : sel.found) kept.push_back(f.stored_name + "=" + f.path);
    EXPECT_EQ(kept, (std::vector<std::string>{"CMAKELIS.TXT=CMakeListsOld.txt", "A.TXT=a.txt"}));
    EXPECT_EQ(sel.refused, 2u);
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "not added: CMakeLists.txt (its 8.3 name CMAKELIS.TXT is already taken by "
                  "CMakeListsOld.txt)",
                  "not added: CMakeListsNew.txt (its 8.3 name CMAKELIS.TXT is already taken by "
                  "CMakeListsOld.txt)"}));
}

TEST_F(SelectionTree, StopRequestEndsALongWalk) {
    // Each file counts twice: as a folder entry read and as a file added.
    fs::create_directory(t.root / "many");
    for (int i = 0; i < 600; ++i) std::ofstream(t.root / "many" / std::to_string(i));
    Cwd cwd(t.root);
    Selection sel;
    sel.recurse = true;
    int asked = 0;
    sel.stop_requested = [&] { return ++asked > 0; };
    EXPECT_EQ(select_name(sel, "many"), 99);
    EXPECT_EQ(asked, 1);
}

void SetMtime(const std::string& path, time_t t) {
    timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

TEST_F(SelectionTree, FileTimesRoundUpAndClampToTheDosRange) {
    std::string f = t.path("b.c");
    SetMtime(f, LocalTime(2020, 6, 15, 10, 20, 31));
    uint32_t attr = 0;
    uint64_t size = 0;
    platform::DosDateTime dos = file_time(f, &attr, &size);
    EXPECT_EQ(dos, (40u << 25) | (6u << 21) | (15u << 16) | (10u << 11) | (20u << 5) | 16u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(attr & 1, 0u);
    EXPECT_EQ(attr >> 16, static_cast<uint32_t>(fs::status(f).permissions()) | S_IFREG);

    SetMtime(f, LocalTime(2200, 3, 1, 0, 0, 0));
    EXPECT_EQ(file_time(f, nullptr, nullptr),
              (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u);
    SetMtime(f, LocalTime(1975, 3, 1, 0, 0, 0));
    EXPECT_EQ(file_time(f, nullptr, nullptr), (1u << 21) | (1u << 16));

    chmod(f.c_str(), 0444);
    file_time(f, &attr, nullptr);
    EXPECT_EQ(attr & 1, 1u);
    EXPECT_EQ(file_time(t.path("sub"), nullptr, nullptr), 0u);
    EXPECT_EQ(file_time(t.path("missing"), nullptr, nullptr), 0u);
}

TEST_F(SelectionTree, MovedFilesThenEmptyFoldersAreDeletedDeepestFirst) {
    t.file("keep/other");
    std::vector<MovedEntry> moved = {{"sub/c.txt", t.path("sub/c.txt")},
                                     {"sub/deep/e.txt", t.path("sub/deep/e.txt")},
                                     {"keep/", t.path("keep/")}};
    std::vector<std::string> entered = {t.path("sub"), t.path("sub/deep")};
    EXPECT_EQ(delete_moved(moved, entered), 0);
    EXPECT_FALSE(fs::exists(t.path("sub/c.txt")));
    EXPECT_FALSE(fs::exists(t.path("sub/deep")));
    EXPECT_TRUE(fs::exists(t.path("sub")));  // still holds .dot and the link
    EXPECT_TRUE(fs::exists(t.path("keep/other")));
    EXPECT_TRUE(fs::exists(t.path("a.txt")));
}

}  // namespace
}  // namespace zip
