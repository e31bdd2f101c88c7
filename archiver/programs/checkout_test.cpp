#include "archiver/programs/checkout.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "archiver/engine/unzip/test_util.h"

namespace programs {
namespace {

using engine::testing_util::TempDir;

// The reading side of desktop-entry values, written from the rules: string escapes first,
// then the Exec value split into arguments with its quoting, "%%" as "%".
std::string Unescape(const std::string& value) {
    std::string s;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char n = value[++i];
            s += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            s += value[i];
        }
    }
    return s;
}

std::vector<std::string> ParseExec(const std::string& value) {
    std::string s = Unescape(value);
    std::vector<std::string> args;
    std::string cur;
    bool in_arg = false, quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (quoted) {
            if (c == '\\' && i + 1 < s.size()) {
                cur += s[++i];
            } else if (c == '%' && i + 1 < s.size() && s[i + 1] == '%') {
                cur += '%';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            quoted = in_arg = true;
        } else if (c == ' ') {
            if (in_arg) args.push_back(cur);
            cur.clear();
            in_arg = false;
        } else if (c == '%' && i + 1 < s.size() && s[i + 1] == '%') {
            cur += '%';
            ++i;
            in_arg = true;
        } else {
            // Reserved characters outside quotes would be a fault of the writer.
            EXPECT_EQ(std::string(" \t\n\"'\\><~|&;$*?#()`").find(c), std::string::npos)
                << "unquoted " << c << " in " << s;
            cur += c;
            in_arg = true;
        }
    }
    if (in_arg) args.push_back(cur);
    return args;
}

std::map<std::string, std::string> ReadEntry(const std::string& path) {
    std::map<std::string, std::string> keys;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

class CheckOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        places.home = dir / "home";
        places.base = dir / "home/CheckOut";
        places.current = dir / "home/work";
        places.temp = dir / "tmp";
        places.launchers = dir / "home/.local/share/applications/borvan-checkout";
        for (const auto& p : {places.base, places.current, places.temp})
            std::filesystem::create_directories(p);
    }
    TempDir dir;
    CheckOutPlaces places;
};

TEST_F(CheckOutTest, ChoicesAccepted) {
    std::string invalid = "Invalid CheckOut folder.  Cannot specify ";
    std::filesystem::create_symlink(dir.path, places.base + "/escape");
    std::filesystem::create_symlink("/usr", places.base + "/system");
    std::string real_dir = std::filesystem::canonical(dir.path).string();
    struct Case {
        std::string folder;
        std::string group;
        int max;
        std::string error;
    } cases[] = {
        {places.base + "/game/", "Game", 50, ""},
        {places.base + "/game", "Game", 0, "Icon maximum is 50"},
        {places.base + "/game", "Game", 51, "Icon maximum is 50"},
        {"", "Game", 5, "No folder specified"},
        // Only the places the rule names are refused, and the message names the rule.
        {"/", "Game", 5, invalid + "the root folder"},
        {"/etc", "Game", 5, invalid + "a system folder (/etc)"},
        {"/usr/local/games", "Game", 5, invalid + "a system folder (/usr/local/games)"},
        {"/home", "Game", 5, invalid + "a system folder (/home)"},
        {places.home, "Game", 5, invalid + "the home folder (" + real_dir + "/home)"},
        {places.home + "/CheckOut/..", "Game", 5,
         invalid + "the home folder (" + real_dir + "/home)"},
        {places.current, "Game", 5, invalid + "the current folder (" + real_dir + "/home/work)"},
        {"relative/..", "Game", 5, invalid + "the current folder (" + real_dir + "/home/work)"},
        {places.temp, "Game", 5, invalid + "the temporary folder (" + real_dir + "/tmp)"},
        {places.base + "/system/x", "Game", 5, invalid + "a system folder (/usr/x)"},
        {dir.path.string(), "Game", 5, ""},
        {places.base, "Game", 5, ""},
        {places.temp + "/x", "Game", 5, ""},
        {places.base + "/../../elsewhere", "Game", 5, ""},
        {places.base + "/escape/x", "Game", 5, ""},
        {"relative/path", "Game", 5, ""},
        {places.base + "/game", "../evil", 5, "Invalid group name"},
        {places.base + "/game", "..", 5, "Invalid group name"},
        {places.base + "/game", "", 5, "Invalid group name"},
        {places.base + "/game", "a\nb", 5, "Invalid group name"},
    };
    for (const auto& c : cases) {
        CheckOutChoices choices;
        choices.folder = c.folder;
        choices.group = c.group;
        choices.max_icons = c.max;
        std::string error, question;
        EXPECT_EQ(CheckCheckOutChoices(choices, places, error, question), c.error.empty())
            << c.folder << " " << c.group;
        EXPECT_EQ(error, c.error) << c.folder << " " << c.group;
    }
    CheckOutChoices choices;
    choices.folder = places.base + "/game/";
    choices.group = "Game";
    std::string error, question;
    ASSERT_TRUE(CheckCheckOutChoices(choices, places, error, question));
    EXPECT_EQ(choices.folder, places.base + "/game");
    EXPECT_EQ(question, "");
    std::filesystem::create_directories(choices.folder);
    std::ofstream(choices.folder + "/old") << "x";
    std::filesystem::create_directories(places.launchers + "/Game");
    ASSERT_TRUE(CheckCheckOutChoices(choices, places, error, question));
    EXPECT_EQ(question, "Folder " + choices.folder +
                            " already exists.  If you continue all files in this folder will be "
                            "deleted.\nGroup Game already exists.  If you continue all icons in "
                            "this group will be deleted.\nDo you want to continue?");
}

// A folder of someone else's files is never emptied; CheckOut's own folder is, but only of
// plain files (a link's target stays).
TEST_F(CheckOutTest, FoldersEmptiedOnlyWhenMarked) {
    CheckOutChoices choices;
    choices.folder = places.base + "/theirs";
    choices.group = "G";
    std::filesystem::create_directories(choices.folder);
    std::ofstream(choices.folder + "/precious") << "x";
    std::string error;
    EXPECT_FALSE(PrepareCheckOutFolder(choices, places, error));
    EXPECT_EQ(error,
              "Folder " + choices.folder +
                  " was not made by CheckOut and is not empty; its files are left as they are");
    EXPECT_TRUE(std::filesystem::exists(choices.folder + "/precious"));
    EXPECT_FALSE(DeleteCheckOut(choices.folder, "G", places, error));
    EXPECT_TRUE(std::filesystem::exists(choices.folder + "/precious"));

    choices.folder = places.base + "/file";
    std::ofstream(choices.folder) << "x";
    EXPECT_FALSE(PrepareCheckOutFolder(choices, places, error));
    EXPECT_EQ(error, "Could not create folder " + choices.folder +
                         "\nA file with same name already exists");

    choices.folder = places.base + "/mine";
    ASSERT_TRUE(PrepareCheckOutFolder(choices, places, error)) << error;
    std::filesystem::create_directories(choices.folder + "/sub");
    std::ofstream(choices.folder + "/sub/old") << "x";
    std::ofstream(dir / "outside") << "keep";
    std::filesystem::create_symlink(dir / "outside", choices.folder + "/link");
    ASSERT_TRUE(PrepareCheckOutFolder(choices, places, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(choices.folder + "/sub/old"));
    EXPECT_TRUE(std::filesystem::exists(dir / "outside"));
}

// A group made from hostile member names: each launcher's Exec reads back as exactly the
// intended arguments, and the group and folder are deleted again.
TEST_F(CheckOutTest, GroupWithHostileNames) {
    CheckOutChoices choices;
    choices.folder = places.base + "/arch";
    choices.group = "My Group";
    std::string error;
    ASSERT_TRUE(PrepareCheckOutFolder(choices, places, error)) << error;
    std::vector<CheckOutMember> members = {
        {"run me.sh", 1},
        {"a\"; touch pwned; echo \".sh", 1},
        {"$(touch pwned)`id`\\x%f.sh", 1},
        {" lead.sh", 1},
        {"inner.zip", 3},
        {"data.bin", 3},
        {"sub/", 3},
        {"../escape.sh", 1},
        {"nl\nname.sh", 1},
    };
    for (const auto& m : members) {
        if (m.name.back() == '/' || m.name.starts_with("..")) continue;
        std::string path = choices.folder + "/" + m.name;
        std::ofstream(path) << "#!/bin/sh\n";
        if (m.type_class == 1) chmod(path.c_str(), 0755);
    }
    GroupOutcome out = BuildCheckOutGroup(choices, places, members, "/usr/bin/borvan32");
    EXPECT_EQ(out.message, "");
    ASSERT_EQ(out.icons, 5);  // four programs and the nested archive
    std::vector<std::vector<std::string>> want = {
        {choices.folder + "/run me.sh"},
        {choices.folder + "/a\"; touch pwned; echo \".sh"},
        {choices.folder + "/$(touch pwned)`id`\\x%f.sh"},
        {choices.folder + "/ lead.sh"},
        {"/usr/bin/borvan32", "/ni", choices.folder + "/inner.zip"},
    };
    for (int i = 0; i < out.icons; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/item%02d.desktop", i + 1);
        auto keys = ReadEntry(out.group_folder + name);
        EXPECT_EQ(ParseExec(keys["Exec"]), want[static_cast<size_t>(i)]) << keys["Exec"];
        EXPECT_EQ(keys["Type"], "Application");
        EXPECT_EQ(choices.folder + "/" + Unescape(keys["Name"]),
                  want[static_cast<size_t>(i)].back());
    }
    EXPECT_EQ(ReadEntry(out.group_folder + "/item04.desktop")["Name"], "\\slead.sh");

    choices.max_icons = 2;
    out = BuildCheckOutGroup(choices, places, members, "/usr/bin/borvan32");
    EXPECT_EQ(out.icons, 2);
    EXPECT_FALSE(std::filesystem::exists(out.group_folder + "/item03.desktop"));

    std::vector<CheckOutMember> data_only = {{"data.bin", 3}};
    out = BuildCheckOutGroup(choices, places, data_only, "/usr/bin/borvan32");
    EXPECT_EQ(out.icons, 0);
    EXPECT_EQ(out.message, "No programs, documents, or special files; no icons created");
    EXPECT_FALSE(std::filesystem::exists(out.group_folder));

    out = BuildCheckOutGroup(choices, places, members, "/usr/bin/borvan32");
    ASSERT_TRUE(DeleteCheckOut(choices.folder, choices.group, places, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(out.group_folder));
    EXPECT_FALSE(std::filesystem::exists(choices.folder));
    EXPECT_TRUE(std::filesystem::exists(places.base));
    EXPECT_FALSE(std::filesystem::exists(dir / "home/CheckOut/arch/pwned"));
}

TEST(DesktopEntry, Escapes) {
    struct Case {
        std::vector<std::string> args;
        const char* exec;
    } cases[] = {
        {{"/bin/prog"}, "/bin/prog"},
        {{"/a b/prog", "x"}, "\"/a b/prog\" x"},
        {{"say \"hi\""}, "\"say \\\\\"hi\\\\\"\""},
        {{"100%"}, "100%%"},
        {{"$HOME"}, "\"\\\\$HOME\""},
        {{""}, "\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DesktopExec(c.args), c.exec);
        EXPECT_EQ(ParseExec(DesktopExec(c.args)), c.args);
    }
    EXPECT_EQ(DesktopString(" a\\b\nc\t"), "\\sa\\\\b\\nc\\t");
}

}  // namespace
}  // namespace programs
