// The dialogs driven by keys without a terminal, and the requests they yield.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "archiver/shell/dialogs/configuration.h"
#include "archiver/shell/dialogs/dialog_parts.h"
#include "archiver/shell/dialogs/messages.h"
#include "archiver/shell/dialogs/password_model.h"

namespace dialogs {
namespace {

using tui::kKeyDown;
using tui::kKeyEnd;
using tui::kKeyEnter;
using tui::kKeyEscape;
using tui::kKeyHome;
using tui::kKeyTab;
using tui::MakeKey;

ExtractDefaults Extract(const char* target, bool has_selection, bool all = false) {
    ExtractDefaults e;
    e.archive = "a.zip";
    e.target = target;
    e.has_selection = has_selection;
    e.default_all = all;
    return e;
}

void Type(tui::Dialog& d, const std::u32string& text) {
    for (char32_t c : text) d.HandleKey(MakeKey(c));
}

int FocusedId(const tui::Dialog& d) {
    return d.controls[d.focus].id;
}

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/dialogs_test.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
};

TEST(AddCommand, ChoicesBecomeTheRecord) {
    const struct {
        int action, compression;
        int level, method, record_action;
        bool move;
    } cases[] = {
        {kAddReplace, kMaximum, 9, -1, zip::kActionAdd, false},
        {kFreshen, kNormal, 5, -1, zip::kActionFreshen, false},
        {kMoveFiles, kFast, 3, -1, zip::kActionAdd, true},
        {kUpdateAdd, kSuperFast, 1, -1, zip::kActionUpdate, false},
        {kAddReplace, kNone, 0, 0, zip::kActionAdd, false},  // every member stored
        {7, 42, 5, -1, zip::kActionAdd, false},              // a damaged setting: defaults
    };
    for (const auto& c : cases) {
        AddRequest r;
        r.choices.action = c.action;
        r.choices.compression = c.compression;
        r.choices.recurse = true;
        r.choices.short_names = false;
        r.names = {"a.txt", "sub"};
        const zip::ZipCommand cmd = MakeAddCommand(r, "/x/new.zip");
        SCOPED_TRACE(testing::Message() << c.action << "/" << c.compression);
        EXPECT_EQ(cmd.level, c.level);
        EXPECT_EQ(cmd.method, c.method);
        EXPECT_EQ(cmd.action, c.record_action);
        EXPECT_EQ(cmd.move, c.move);
        EXPECT_TRUE(cmd.recurse);
        EXPECT_FALSE(cmd.short_names);
        EXPECT_FALSE(cmd.password_given);
        EXPECT_EQ(cmd.archive, "/x/new.zip");
        EXPECT_EQ(cmd.names, r.names);
    }
    AddRequest secret;
    secret.password = "pw";
    const zip::ZipCommand cmd = MakeAddCommand(secret, "a.zip");
    EXPECT_TRUE(cmd.password_given);
    EXPECT_EQ(cmd.password, "pw");
}

TEST(AddCommand, TheCipherChoiceGoesToTheRecord) {
    const struct {
        int chosen, record;
    } cases[] = {
        {zip::kEncryptTraditional, zip::kEncryptTraditional},
        {zip::kEncryptAes128, zip::kEncryptAes128},
        {zip::kEncryptAes256, zip::kEncryptAes256},
        {4, zip::kEncryptTraditional},  // a damaged setting: the default
        {-1, zip::kEncryptTraditional},
    };
    for (const auto& c : cases) {
        AddRequest r;
        r.names = {"a"};
        r.password = "pw";
        r.choices.encryption = c.chosen;
        EXPECT_EQ(MakeAddCommand(r, "a.zip").encryption, c.record) << c.chosen;
    }
}

TEST(DeleteAndExtractCommands, TakeTheChosenNames) {
    const std::vector<std::string> selected = {"dir/a.txt", "b.txt"};
    DeleteRequest del{DeleteWhich::kSelected, {}};
    zip::ZipCommand d = MakeDeleteCommand(del, "a.zip", selected);
    EXPECT_EQ(d.action, zip::kActionDelete);
    EXPECT_TRUE(d.recurse);
    EXPECT_EQ(d.names, selected);
    del = {DeleteWhich::kPattern, {"*.txt"}};
    EXPECT_EQ(MakeDeleteCommand(del, "a.zip", selected).names, std::vector<std::string>{"*.txt"});

    ExtractRequest ex;
    ex.target = "/out";
    ex.which = ExtractWhich::kAll;
    ex.use_folder_names = false;
    ex.overwrite = true;
    engine::UnzipCommand u = MakeExtractCommand(ex, "a.tar", formats::kKindTar, selected);
    EXPECT_TRUE(u.has_target);
    EXPECT_EQ(u.target, "/out");
    EXPECT_TRUE(u.selection.empty());
    EXPECT_EQ(u.kind, formats::kKindTar);
    EXPECT_FALSE(u.use_folder_names);
    EXPECT_TRUE(u.overwrite_all);
    EXPECT_FALSE(u.password_given);
    ex.which = ExtractWhich::kSelected;
    ex.password = "s";
    u = MakeExtractCommand(ex, "a.zip", formats::kKindZip, selected);
    EXPECT_EQ(u.selection, selected);
    EXPECT_TRUE(u.password_given);
    ex.which = ExtractWhich::kPattern;
    ex.patterns = {"*.c"};
    EXPECT_EQ(MakeExtractCommand(ex, "a.zip", formats::kKindZip, selected).selection, ex.patterns);
}

TEST(SplitPatterns, SeparatorsAndQuotes) {
    const struct {
        const char* text;
        std::vector<std::string> want;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"*.txt", {"*.txt"}},
        {"a.c b.c", {"a.c", "b.c"}},
        {"a.c,b.c;c.c", {"a.c", "b.c", "c.c"}},
        {"  a.c ,, ;b.c  ", {"a.c", "b.c"}},
        {"\"my file.txt\" x", {"my file.txt", "x"}},
        {"\"a,b\"", {"a,b"}},
        {"\"unclosed name", {"unclosed name"}},
        {"dir/*.h", {"dir/*.h"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitPatterns(c.text), c.want) << c.text;
}

TEST(Password, RefusalsAndConfirmation) {
    const struct {
        const char* password;
        formats::ArchiveKind kind;
        const char* refusal;  // nullptr: accepted
    } cases[] = {
        {"", formats::kKindZip, nullptr},
        {"with space", formats::kKindZip, nullptr},
        {"with space", formats::kKindArj, kMsgArjPasswordSpace},
        {"nospace", formats::kKindArj, nullptr},
        {"caf\xc3\xa9", formats::kKindZip, kMsgPasswordHighChars},
        {"\x7f~", formats::kKindZip, nullptr},
    };
    for (const auto& c : cases) {
        const auto r = PasswordRefusal(c.password, c.kind);
        if (c.refusal) {
            ASSERT_TRUE(r) << c.password;
            EXPECT_EQ(*r, c.refusal);
        } else {
            EXPECT_FALSE(r) << c.password;
        }
    }
    EXPECT_TRUE(NeedsConfirmation(true, true, "x"));
    EXPECT_FALSE(NeedsConfirmation(true, true, ""));
    EXPECT_FALSE(NeedsConfirmation(true, false, "x"));
    EXPECT_FALSE(NeedsConfirmation(false, true, "x"));
}

TEST(Password, FieldHoldsAtMost99AndMaskFollowsTheBox) {
    tui::Dialog d = MakePasswordDialog({"", true, true, formats::kKindZip});
    EXPECT_EQ(FocusedId(d), kIdPassword);
    Type(d, std::u32string(120, U'x'));
    EXPECT_EQ(EditText(d, kIdPassword).size(), kMaxPassword);
    EXPECT_TRUE(d.Find(kIdPassword)->password);
    d.HandleKey(MakeKey(kKeyTab));
    EXPECT_EQ(FocusedId(d), kIdMask);
    d.HandleKey(MakeKey(U' '));
    EXPECT_FALSE(Checked(d, kIdMask));
    EXPECT_FALSE(d.Find(kIdPassword)->password);
    EXPECT_EQ(d.result, -1);
    // The note about command lines is shown.
    bool note = false;
    for (const auto& c : d.controls) note |= c.text.find("other local users") != std::string::npos;
    EXPECT_TRUE(note);
    tui::Dialog confirm = MakeConfirmDialog();
    EXPECT_EQ(confirm.controls[0].text, kLabelReenterPassword);
    EXPECT_TRUE(confirm.Find(kIdPassword)->password);
}

// Every dialog: the first field has the focus, Tab and Shift+Tab move, Enter presses the
// default button, Escape cancels.
TEST(Dialogs, KeyboardRules) {
    TempDir t;
    auto add_state = std::make_shared<AddState>();
    auto open_state = std::make_shared<BrowseState>();
    open_state->folder = t.path;
    shell::OptionRecord record{};
    const struct {
        const char* name;
        std::function<tui::Dialog()> make;
        int first;
    } cases[] = {
        {"add",
         [&] {
             return MakeAddDialog({"a.zip", t.path, {}, "", true, formats::kKindZip}, add_state);
         },
         kIdNames},
        {"extract", [] { return MakeExtractDialog(Extract("/tmp", true)); }, kIdTarget},
        {"delete",
         [] {
             return MakeDeleteDialog({"a.zip", true});
         },
         kIdPattern},
        {"password", [] { return MakePasswordDialog({}); }, kIdPassword},
        {"confirm", [] { return MakeConfirmDialog(); }, kIdPassword},
        {"configuration", [&] { return MakeConfigurationDialog(record); }, kIdSwitch0},
        {"folders", [] { return MakeFoldersDialog({}); }, kIdUse0},
        {"programs", [] { return MakeProgramsDialog({}); }, kIdField0},
        {"open", [&] { return MakeOpenDialog("Open Archive", open_state); }, kIdNames},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tui::Dialog d = c.make();
        EXPECT_EQ(FocusedId(d), c.first);
        d.HandleKey(MakeKey(kKeyTab));
        EXPECT_NE(FocusedId(d), c.first);
        d.HandleKey(MakeKey(kKeyTab, false, false, true));
        EXPECT_EQ(FocusedId(d), c.first);
        tui::Dialog esc = c.make();
        EXPECT_EQ(esc.HandleKey(MakeKey(kKeyEscape)), tui::DialogEvent::kEnded);
        EXPECT_EQ(esc.result, tui::kIdCancel);
        d.HandleKey(MakeKey(kKeyEnter));
        EXPECT_EQ(d.result, tui::kIdOk);
        // Every control fits inside the dialog.
        for (const auto& ctl : d.controls) {
            EXPECT_LE(ctl.col + ctl.width, d.cols) << ctl.text;
            EXPECT_LE(ctl.row + ctl.height, d.rows) << ctl.text;
        }
    }
}

TEST(AddDialog, NamesFromTheFieldAndTheList) {
    TempDir t;
    t.Write("a.txt", "a");
    t.Write("b.txt", "b");
    ::mkdir((t.path + "/sub").c_str(), 0700);
    t.Write("sub/c.txt", "c");
    auto state = std::make_shared<AddState>();
    AddDefaults defaults{"/x/a.zip", t.path, {}, "pw", false, formats::kKindZip};
    defaults.choices.compression = kFast;
    tui::Dialog d = MakeAddDialog(defaults, state);
    std::string error;
    EXPECT_FALSE(ReadAddRequest(d, *state, error));  // nothing chosen yet
    EXPECT_FALSE(error.empty());

    Type(d, U"one;two \"three four\"");
    d.HandleKey(MakeKey(kKeyTab));
    ASSERT_EQ(FocusedId(d), kIdList);
    // Rows: "..", "sub/", "a.txt", "b.txt"; mark b.txt.
    ASSERT_EQ(state->browse.entries.size(), 4u);
    d.HandleKey(MakeKey(kKeyEnd));
    d.HandleKey(MakeKey(U' '));
    auto r = ReadAddRequest(d, *state, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->names, (std::vector<std::string>{"one", "two", "three four", "b.txt"}));
    EXPECT_EQ(r->folder, t.path);
    EXPECT_EQ(r->choices.compression, kFast);
    EXPECT_EQ(r->password, "pw");

    // Enter on a folder goes into it and drops the marks; Enter on a file ends with it.
    d.HandleKey(MakeKey(kKeyHome));
    d.HandleKey(MakeKey(kKeyDown));
    d.HandleKey(MakeKey(kKeyEnter));
    EXPECT_EQ(d.result, -1);
    EXPECT_EQ(state->browse.folder, t.path + "/sub");
    d.HandleKey(MakeKey(kKeyEnd));
    d.HandleKey(MakeKey(kKeyEnter));
    EXPECT_EQ(d.result, kIdList);
    r = ReadAddRequest(d, *state, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->names.back(), "c.txt");
    EXPECT_EQ(r->folder, t.path + "/sub");
}

TEST(AddDialog, ChoicesAreRead) {
    TempDir t;
    auto state = std::make_shared<AddState>();
    AddDefaults defaults{"a.zip", t.path, {}, "", true, formats::kKindZip};
    defaults.choices = {kMoveFiles, kNone, 0, true, true, false};
    tui::Dialog d = MakeAddDialog(defaults, state);
    Type(d, U"x");
    std::string error;
    auto r = ReadAddRequest(d, *state, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->choices.action, kMoveFiles);
    EXPECT_EQ(r->choices.compression, kNone);
    EXPECT_TRUE(r->choices.recurse);
    EXPECT_TRUE(r->choices.save_folder_info);
    EXPECT_FALSE(r->choices.short_names);
    EXPECT_EQ(r->choices.encryption, zip::kEncryptTraditional);
    // Alt+Y reaches the ciphers; Down picks the next one.
    d.HandleKey(MakeKey(U'y', true));
    d.HandleKey(MakeKey(kKeyDown));
    d.HandleKey(MakeKey(kKeyDown));
    EXPECT_EQ(ReadAddRequest(d, *state, error)->choices.encryption, zip::kEncryptAes192);
    // Alt+R clears recurse; a letter in the name field is text.
    d.HandleKey(MakeKey(U'r', true));
    EXPECT_FALSE(ReadAddRequest(d, *state, error)->choices.recurse);
}

TEST(AddDialog, VolumeSizeIsReadAndChecked) {
    TempDir t;
    const struct {
        const char32_t* typed;
        uint64_t split;    // expected, when accepted
        const char* says;  // the start of the refusal, else ""
    } cases[] = {
        {U"", 0, ""},
        {U"100m", 100u << 20, ""},
        {U" 64k ", 64u << 10, ""},
        {U"70000", 70000, ""},
        {U"63k", 0, "A volume must hold at least 64k"},
        {U"1.5m", 0, "\"1.5m\" is not a size"},
        {U"lots", 0, "\"lots\" is not a size"},
    };
    for (const auto& c : cases) {
        auto state = std::make_shared<AddState>();
        AddDefaults defaults{"a.zip", t.path, {}, "", true, formats::kKindZip};
        tui::Dialog d = MakeAddDialog(defaults, state);
        Type(d, U"x");
        // Alt+V reaches the field.
        d.HandleKey(MakeKey(U'v', true));
        ASSERT_EQ(FocusedId(d), kIdVolumeSize);
        Type(d, c.typed);
        std::string error;
        auto r = ReadAddRequest(d, *state, error);
        if (*c.says == 0) {
            ASSERT_TRUE(r) << error;
            EXPECT_EQ(r->split_size, c.split);
            EXPECT_EQ(MakeAddCommand(*r, "a.zip").split_size, c.split);
        } else {
            EXPECT_FALSE(r);
            EXPECT_EQ(error.rfind(c.says, 0), 0u) << error;
        }
    }
}

TEST(ExtractDialog, WhichMembers) {
    const struct {
        bool has_selection, default_all;
        const char* pattern;
        ExtractWhich want;
        size_t patterns;
    } cases[] = {
        {true, false, "", ExtractWhich::kSelected, 0},
        {true, true, "", ExtractWhich::kAll, 0},
        {false, false, "", ExtractWhich::kAll, 0},
        {false, false, "*.c *.h", ExtractWhich::kPattern, 2},  // typing a pattern chooses it
        {true, false, "*.c", ExtractWhich::kSelected, 0},      // unless Selected is chosen
    };
    for (const auto& c : cases) {
        tui::Dialog d = MakeExtractDialog(Extract("/out/", c.has_selection, c.default_all));
        EXPECT_EQ(d.Find(kIdSelected)->enabled, c.has_selection);
        SetEditText(d, kIdPattern, c.pattern);
        std::string error;
        auto r = ReadExtractRequest(d, error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r->which, c.want) << c.pattern;
        EXPECT_EQ(r->patterns.size(), c.patterns);
        EXPECT_EQ(r->target, "/out");  // the trailing slash goes
        EXPECT_TRUE(r->use_folder_names);
    }
    tui::Dialog d = MakeExtractDialog(Extract("", false));
    std::string error;
    EXPECT_FALSE(ReadExtractRequest(d, error));
    SetEditText(d, kIdTarget, "/out");
    d.Press(kIdFiles);
    d.result = -1;
    d.Find(kIdFiles)->checked = true;
    d.Find(kIdAll)->checked = false;
    EXPECT_FALSE(ReadExtractRequest(d, error));  // Files: chosen with nothing typed
}

TEST(DeleteDialog, WhichMembers) {
    tui::Dialog d = MakeDeleteDialog({"a.zip", false});
    EXPECT_FALSE(d.Find(kIdSelected)->enabled);
    EXPECT_EQ(d.CheckedRadio(1), kIdFiles);
    std::string error;
    EXPECT_FALSE(ReadDeleteRequest(d, error));
    SetEditText(d, kIdPattern, "*.bak old.txt");
    auto r = ReadDeleteRequest(d, error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->which, DeleteWhich::kPattern);
    EXPECT_EQ(r->patterns, (std::vector<std::string>{"*.bak", "old.txt"}));
    d.HandleKey(MakeKey(U'e', true));
    EXPECT_EQ(ReadDeleteRequest(d, error)->which, DeleteWhich::kEntireArchive);

    tui::Dialog s = MakeDeleteDialog({"a.zip", true});
    EXPECT_EQ(ReadDeleteRequest(s, error)->which, DeleteWhich::kSelected);
}

// Typed letters land in the name field, never on an option's letter: "readme.txt" holds the
// "e" of Entire Archive and the "s" of Selected Files. Typing names picks Files: even over a
// selection, and Enter deletes those names.
TEST(DeleteDialog, TypedNamesAreNamesNeverOptions) {
    for (bool has_selection : {false, true}) {
        SCOPED_TRACE(has_selection);
        tui::Dialog d = MakeDeleteDialog({"a.zip", has_selection});
        Type(d, U"readme.txt");
        EXPECT_EQ(EditText(d, kIdPattern), "readme.txt");
        EXPECT_EQ(d.CheckedRadio(1), kIdFiles);
        EXPECT_EQ(d.HandleKey(MakeKey(kKeyEnter)), tui::DialogEvent::kEnded);
        EXPECT_EQ(d.result, tui::kIdOk);
        std::string error;
        auto r = ReadDeleteRequest(d, error);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->which, DeleteWhich::kPattern);
        EXPECT_EQ(r->patterns, std::vector<std::string>{"readme.txt"});
    }
}

TEST(Configuration, UnchangedRecordStaysByteForByte) {
    shell::OptionRecord record{};
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7 + 3);
    WriteField(record, kOptDefaultFormat, 2, formats::kKindArj);
    tui::Dialog d = MakeConfigurationDialog(record);
    EXPECT_EQ(ReadConfiguration(d, record), record);
    EXPECT_EQ(d.CheckedRadio(1), kIdFormat0 + formats::kKindArj);

    // Toggling the first switch writes 0 over its four bytes; the format radio its code.
    d.HandleKey(MakeKey(U' '));
    d.Find(kIdFormat0 + formats::kKindArj)->checked = false;
    d.Find(kIdFormat0 + formats::kKindZip)->checked = true;
    const shell::OptionRecord out = ReadConfiguration(d, record);
    EXPECT_EQ(ReadField(out, 0, 4), 0u);
    EXPECT_EQ(ReadField(out, kOptDefaultFormat, 2), static_cast<uint32_t>(formats::kKindZip));
    for (size_t i = 4; i < out.size(); ++i) {
        if (i == kOptDefaultFormat || i == kOptDefaultFormat + 1) continue;
        EXPECT_EQ(out[i], record[i]) << i;
    }
    // A record with an unknown format code shows zip and keeps the code until changed.
    shell::OptionRecord odd{};
    WriteField(odd, kOptDefaultFormat, 2, 77);
    tui::Dialog o = MakeConfigurationDialog(odd);
    EXPECT_EQ(o.CheckedRadio(1), kIdFormat0 + formats::kKindZip);
    EXPECT_EQ(ReadField(ReadConfiguration(o, odd), kOptDefaultFormat, 2),
              static_cast<uint32_t>(formats::kKindZip));
}

TEST(Folders, ReadBackAndMissingFolders) {
    TempDir t;
    FolderSettings f;
    f.use_open_folder = true;
    f.open_folder = t.path;
    f.extract_folder = "/nowhere/at/all";  // not switched on: not checked
    f.zip_temp_removable_only = false;
    tui::Dialog d = MakeFoldersDialog(f);
    const FolderSettings back = ReadFolders(d);
    EXPECT_EQ(back.open_folder, t.path);
    EXPECT_TRUE(back.use_open_folder);
    EXPECT_EQ(back.extract_folder, f.extract_folder);
    EXPECT_FALSE(back.zip_temp_removable_only);
    EXPECT_EQ(MissingFolder(back), "");
    f.use_extract_folder = true;
    EXPECT_EQ(MissingFolder(f), "/nowhere/at/all");
    f.use_extract_folder = false;
    f.temp_folder = t.Write("file", "x");  // a file is not a folder
    EXPECT_EQ(MissingFolder(f), f.temp_folder);
    f.temp_folder.clear();
    f.use_add_folder = true;
    EXPECT_EQ(MissingFolder(f), "(none)");
}

TEST(Programs, ReadBack) {
    ProgramLocations p{"/usr/bin/lha", "arj", "", "clamscan", "-r", "less", "/usr/bin/xdg-open"};
    tui::Dialog d = MakeProgramsDialog(p);
    const ProgramLocations back = ReadPrograms(d);
    EXPECT_EQ(back.lha, p.lha);
    EXPECT_EQ(back.arj, p.arj);
    EXPECT_EQ(back.scan, p.scan);
    EXPECT_EQ(back.scan_parameters, p.scan_parameters);
    EXPECT_EQ(back.viewer, p.viewer);
    EXPECT_EQ(back.vviewer, p.vviewer);
}

TEST(OpenDialog, ListsArchivesByKind) {
    TempDir t;
    t.Write("a.zip", "not really");
    std::string eocd("PK\x05\x06", 4);
    eocd.append(18, '\0');
    t.Write("noext", eocd);
    t.Write("data.gzip", std::string("\x1f\x8b\x08\0", 4) + std::string(20, '\0'));
    std::string tar(512, '\0');
    tar.replace(0, 5, "x.txt");
    tar.replace(257, 5, "ustar");
    t.Write("backup", tar);
    t.Write("notes.txt", "plain text");
    ::mkfifo((t.path + "/pipe").c_str(), 0600);  // must not hold the listing
    auto state = std::make_shared<BrowseState>();
    state->folder = t.path;
    state->archives_only = true;
    tui::Dialog d = MakeOpenDialog("Open Archive", state);
    std::vector<std::string> rows = d.Find(kIdList)->items;
    ASSERT_EQ(rows.size(), 5u);  // "..", then the four archives by name
    EXPECT_EQ(rows[0], "../");
    const struct {
        const char* name;
        const char* kind;
    } want[] = {{"a.zip", "zip"}, {"backup", "tar"}, {"data.gzip", "gzip"}, {"noext", "zip"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i + 1].substr(0, std::string(want[i].name).size()), want[i].name);
        EXPECT_EQ(rows[i + 1].substr(rows[i + 1].rfind(' ') + 1), want[i].kind);
    }
    // Showing all files brings the others in.
    d.HandleKey(MakeKey(U'l', true));
    EXPECT_EQ(d.Find(kIdList)->items.size(), 7u);
    // A typed name wins over the list; a relative one is taken in the folder shown.
    SetEditText(d, kIdNames, "a.zip");
    EXPECT_EQ(ReadOpenPath(d, *state), t.path + "/a.zip");
    SetEditText(d, kIdNames, "/elsewhere/b.zip");
    EXPECT_EQ(ReadOpenPath(d, *state), "/elsewhere/b.zip");
}

TEST(Browser, StartFolderAndNames) {
    TempDir t;
    const std::string file = t.Write("a.zip", "x");
    EXPECT_EQ(StartFolder(t.path), t.path);
    EXPECT_EQ(StartFolder(file), t.path);
    EXPECT_EQ(StartFolder(t.path + "/missing/x.zip")[0], '/');
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/", "b"), "/b");
    EXPECT_EQ(JoinPath("/a", "/c"), "/c");
    // Names from disk cannot drive the terminal.
    EXPECT_EQ(BrowserRowText({"evil\x1b[2J", false, formats::kKindUnknown}, 10), "evil^[[2J");
    EXPECT_EQ(Literal("R&D\tfiles"), "R&&D files");
}

TEST(Information, Text) {
    ArchiveInformation info{"/x/a.zip", formats::kKindZip, 1234567, 3, 2000, 1000, true, ""};
    const std::string t = InformationText(info);
    EXPECT_NE(t.find("1,234,567 bytes"), std::string::npos);
    EXPECT_NE(t.find("Files: 3"), std::string::npos);
    EXPECT_NE(t.find("Saved: 50%"), std::string::npos);
    EXPECT_NE(t.find("Encrypted files: yes"), std::string::npos);
    info.total_uncompressed = shell::kUnknownSize;
    EXPECT_NE(InformationText(info).find("Total size: ?"), std::string::npos);
}

TEST(Messages, Texts) {
    EXPECT_EQ(NoLongerExistsText("/a/b.zip"), "/a/b.zip no longer exists ... closing archive");
    EXPECT_EQ(MissingProgramText("ARJ", "Add", "ARJ"),
              "When working with ARJ files the \"Add\" operation requires the ARJ external "
              "program.  This program is not installed or improperly installed");
}

}  // namespace
}  // namespace dialogs
