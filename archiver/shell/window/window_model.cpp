#include "archiver/shell/window/window_model.h"

#include <algorithm>

#include "platform/profile.h"

namespace window {

const char* const kNoArchiveText = "Choose \"New\" to create or \"Open\" to open an archive";

namespace {

tui::MenuItem Item(const char* text, int command, bool enabled = true, bool checked = false) {
    tui::MenuItem m;
    m.text = text;
    m.command = command;
    m.enabled = enabled;
    m.checked = checked;
    return m;
}

tui::MenuItem Popup(const char* text, std::vector<tui::MenuItem> items) {
    tui::MenuItem m;
    m.text = text;
    m.items = std::move(items);
    return m;
}

struct Accelerator {
    char32_t code;
    bool alt, ctrl, shift;
    int command;
};

// Terminals take Ctrl+I (Tab) and Ctrl+M (Enter) for themselves: Install is on Ctrl+G and
// Mail on Ctrl+P instead, and Exit on Ctrl+Q beside Alt+F4, which window managers often take.
constexpr Accelerator kAccelerators[] = {
    {U'n', false, true, false, kCmdNew},
    {U'o', false, true, false, kCmdOpen},
    {U'f', false, true, false, kCmdFavorites},
    {U'l', false, true, false, kCmdClose},
    {tui::kKeyF1 + 6, false, false, false, kCmdMoveArchive},
    {tui::kKeyF1 + 7, false, false, false, kCmdCopyArchive},
    {U'r', false, true, false, kCmdRenameArchive},
    {U'w', false, true, false, kCmdWizard},
    {tui::kKeyF1 + 3, true, false, false, kCmdExit},
    {U'q', false, true, false, kCmdExit},
    {U'a', false, true, false, kCmdAdd},
    {U'd', false, true, false, kCmdDelete},
    {tui::kKeyDelete, false, false, false, kCmdDelete},
    {U'e', false, true, false, kCmdExtract},
    {U'v', false, true, false, kCmdView},
    {U'/', false, true, false, kCmdSelectAll},
    {U'\\', false, true, false, kCmdDeselectAll},
    {U's', false, true, false, kCmdVirusScan},
    {U'k', false, true, false, kCmdMakeExe},
    {U'u', false, true, false, kCmdUuencode},
    {U't', false, true, false, kCmdTest},
    {U'c', false, true, false, kCmdCheckOut},
    {U'g', false, true, false, kCmdInstall},
    {tui::kKeyF1, false, false, false, kCmdContents},
    {tui::kKeyF1, false, false, true, kCmdContents},
    {U'p', false, true, false, kCmdMail},
    {U'y', false, true, false, kCmdAlwaysOnTop},
};

constexpr int kArchiveCommands[] = {
    kCmdClose,         kCmdInformation,   kCmdShortcut,    kCmdMoveArchive, kCmdCopyArchive,
    kCmdRenameArchive, kCmdDeleteArchive, kCmdAdd,         kCmdDelete,      kCmdExtract,
    kCmdView,          kCmdSelectAll,     kCmdDeselectAll, kCmdVirusScan,   kCmdMakeExe,
    kCmdUuencode,      kCmdTest,          kCmdCheckOut,    kCmdInstall,     kCmdMail,
};

constexpr int kExistenceChecked[] = {
    kCmdExtract,       kCmdView,        kCmdInstall,     kCmdCheckOut, kCmdMakeExe,
    kCmdVirusScan,     kCmdInformation, kCmdMoveArchive, kCmdTest,     kCmdCopyArchive,
    kCmdRenameArchive, kCmdShortcut,    kCmdUuencode};

struct SortCommand {
    int command;
    shell::SortOrder order;
};
constexpr SortCommand kSortCommands[] = {
    {kCmdSortName, shell::SortOrder::kName},     {kCmdSortPath, shell::SortOrder::kPath},
    {kCmdSortType, shell::SortOrder::kType},     {kCmdSortSize, shell::SortOrder::kSize},
    {kCmdSortPacked, shell::SortOrder::kPacked}, {kCmdSortRatio, shell::SortOrder::kRatio},
    {kCmdSortDate, shell::SortOrder::kDate},     {kCmdSortOriginal, shell::SortOrder::kOriginal},
};

// Marks the commands that need an open archive as disabled when there is none.
void EnableForArchive(std::vector<tui::MenuItem>& items, bool open) {
    for (tui::MenuItem& m : items) {
        if (!m.items.empty()) EnableForArchive(m.items, open);
        if (!open && NeedsArchive(m.command)) m.enabled = false;
    }
}

}  // namespace

std::vector<tui::MenuItem> BuildMenus(const MenuFlags& f) {
    std::vector<tui::MenuItem> file = {
        Item("&New Archive...\tCtrl+N", kCmdNew),
        Item("&Open Archive...\tCtrl+O", kCmdOpen),
        Item("&Favorite Zip Folders...\tCtrl+F", kCmdFavorites),
        Item("&Close Archive\tCtrl+L", kCmdClose),
        tui::MenuItem::Separator(),
        Item("&Information...", kCmdInformation),
        Item("Create &Shortcut", kCmdShortcut),
        Item("&Move Archive...\tF7", kCmdMoveArchive),
        Item("Cop&y Archive...\tF8", kCmdCopyArchive),
        Item("&Rename Archive...\tCtrl+R", kCmdRenameArchive),
        Item("&Delete Archive...", kCmdDeleteArchive),
        tui::MenuItem::Separator(),
        Item("Ma&il Archive...\tCtrl+P", kCmdMail),
        Item("&Wizard...\tCtrl+W", kCmdWizard),
        Item("E&xit\tCtrl+Q", kCmdExit),
    };
    if (!f.recent.empty()) {
        file.push_back(tui::MenuItem::Separator());
        for (size_t i = 0; i < f.recent.size() && i < kMaxRecent; ++i)
            file.push_back(Item("", kCmdRecentFirst + static_cast<int>(i)));
        for (size_t i = 0; i < f.recent.size() && i < kMaxRecent; ++i)
            file[file.size() - std::min(f.recent.size(), kMaxRecent) + i].text =
                RecentMenuText(i, f.recent[i]);
    }
    std::vector<tui::MenuItem> actions = {
        Item("&Add...\tCtrl+A", kCmdAdd),
        Item("&Delete...\tCtrl+D", kCmdDelete),
        Item("&Extract...\tCtrl+E", kCmdExtract),
        Item("&View...\tCtrl+V", kCmdView),
        tui::MenuItem::Separator(),
        Item("Select All\tCtrl+/", kCmdSelectAll),
        Item("Deselect All\tCtrl+\\", kCmdDeselectAll),
        tui::MenuItem::Separator(),
        Item("Virus &Scan\tCtrl+S", kCmdVirusScan),
        Item("Ma&ke .EXE File\tCtrl+K", kCmdMakeExe),
        Item("&UUencode\tCtrl+U", kCmdUuencode),
        Item("&Test\tCtrl+T", kCmdTest),
        Item("&CheckOut...\tCtrl+C", kCmdCheckOut),
        Item("&Install...\tCtrl+G", kCmdInstall),
    };
    std::vector<tui::MenuItem> sort;
    const char* sort_texts[] = {"Sort by &Name",        "Sort by &Path",
                                "Sort by &Type",        "Sort by &Size",
                                "Sort by P&acked Size", "Sort by &Compression Ratio",
                                "Sort by &Date",        "Sort by &Original Order"};
    for (size_t i = 0; i < std::size(kSortCommands); ++i)
        sort.push_back(Item(sort_texts[i], kSortCommands[i].command, true,
                            kSortCommands[i].command == f.sort_command));
    std::vector<tui::MenuItem> options = {
        Item("&Configuration...", kCmdConfiguration),
        Item("Fol&ders...", kCmdFolders),
        Item("File &Manager Configuration...", kCmdFileManager),
        Item("&Font...", kCmdFont),
        Item("&Password...", kCmdPassword),
        Item("Program &Locations...", kCmdProgramLocations),
        tui::MenuItem::Separator(),
        Popup("S&ort", std::move(sort)),
        tui::MenuItem::Separator(),
        Item("&Reuse Borvan Windows", kCmdReuseWindows, true, f.reuse_windows),
        Item("Save Settings on &Exit", kCmdSaveOnExit, true, f.save_on_exit),
        Item("Save Settings &Now", kCmdSaveNow),
        Item("Set &Installation Defaults...", kCmdInstallDefaults),
        Item("&View Last Output...", kCmdViewLastOutput),
        Item("&Always On Top\tCtrl+Y", kCmdAlwaysOnTop),
    };
    std::vector<tui::MenuItem> help = {
        Item("&Contents\tF1", kCmdContents),
        Item("&Brief Tutorial", kCmdTutorial),
        Item("Hints and &Tips", kCmdHintsAndTips),
        Item("&Search for Help on...", kCmdSearchHelp),
        Item("&How to Use Help", kCmdHelpOnHelp),
        Item("&Frequently Asked Questions", kCmdFaq),
        tui::MenuItem::Separator(),
        Item("&About Borvan...", kCmdAbout),
    };
    std::vector<tui::MenuItem> bar = {
        Popup("&File", std::move(file)),
        Popup("&Actions", std::move(actions)),
        Popup("&Options", std::move(options)),
        Popup("&Help", std::move(help)),
    };
    EnableForArchive(bar, f.archive_open);
    return bar;
}

int CommandForKey(const tui::Key& key) {
    for (const Accelerator& a : kAccelerators)
        if (key.Is(a.code, a.alt, a.ctrl, a.shift)) return a.command;
    return 0;
}

std::vector<tui::ToolButton> BuildToolbar(bool archive_open) {
    return {
        {"new", kCmdNew, true, false},
        {"open", kCmdOpen, true, false},
        {"favorite", kCmdFavorites, true, false},
        {"add", kCmdAdd, archive_open, false},
        {"extract", kCmdExtract, archive_open, false},
        {"View", kCmdView, archive_open, false},
        {"check_out", kCmdCheckOut, archive_open, false},
        {"wizard", kCmdWizard, archive_open, false},
    };
}

bool NeedsArchive(int command) {
    return std::find(std::begin(kArchiveCommands), std::end(kArchiveCommands), command) !=
           std::end(kArchiveCommands);
}

bool ChecksArchiveExists(int command) {
    return std::find(std::begin(kExistenceChecked), std::end(kExistenceChecked), command) !=
           std::end(kExistenceChecked);
}

bool SortForCommand(int command, shell::SortOrder& order) {
    for (const SortCommand& s : kSortCommands) {
        if (s.command == command) {
            order = s.order;
            return true;
        }
    }
    return false;
}

int CommandForSort(shell::SortOrder order) {
    for (const SortCommand& s : kSortCommands)
        if (s.order == order) return s.command;
    return kCmdSortOriginal;
}

std::string StatusText(bool archive_open, const shell::Listing& listing,
                       const std::vector<size_t>& selected, const shell::IntlFormat& intl) {
    if (!archive_open) return kNoArchiveText;
    uint64_t size = 0;
    for (size_t i : selected) {
        if (i >= listing.rows.size()) continue;
        uint64_t s = listing.rows[i].uncompressed;
        if (s == shell::kUnknownSize || size == shell::kUnknownSize) {
            size = shell::kUnknownSize;
        } else {
            size += s;
        }
    }
    return shell::SelectedText(selected.size(), size, intl) + "    " +
           shell::TotalText(listing, intl);
}

std::string RecentMenuText(size_t index, const std::string& path) {
    constexpr size_t kLongest = 30;
    std::string shown = path;
    if (shown.size() > kLongest) {
        // Keep the first folder (or the root) and the file name: they say the most.
        size_t last = shown.rfind('/');
        size_t first = shown.find('/', shown[0] == '/' ? 1 : 0);
        std::string tail = last == std::string::npos ? shown : shown.substr(last);
        std::string head =
            first == std::string::npos || first >= last ? "" : shown.substr(0, first);
        if (head.size() + 4 + tail.size() > kLongest) head.clear();
        shown = head + "/..." + tail;
    }
    // "&" in a path would be taken for the item's letter.
    std::string escaped;
    for (char c : shown) {
        escaped += c;
        if (c == '&') escaped += '&';
    }
    return "&" + std::to_string(index + 1) + " " + escaped;
}

void AddRecent(std::vector<std::string>& list, const std::string& path) {
    RemoveRecent(list, path);
    list.insert(list.begin(), path);
    if (list.size() > kMaxRecent) list.resize(kMaxRecent);
}

void RemoveRecent(std::vector<std::string>& list, const std::string& path) {
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
}

std::vector<std::string> ReadRecent(const std::string& settings_path) {
    std::vector<std::string> list;
    for (size_t i = 1; i <= kMaxRecent; ++i) {
        std::string v = platform::GetPrivateProfileString(
            "filemenu", "filemenu" + std::to_string(i), "", 0, settings_path);
        if (v.empty()) break;
        list.push_back(v);
    }
    return list;
}

bool WriteRecent(const std::string& settings_path, const std::vector<std::string>& list) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (size_t i = 0; i < list.size() && i < kMaxRecent; ++i)
        lines.emplace_back("filemenu" + std::to_string(i + 1), list[i]);
    return platform::WriteProfileSection("filemenu", lines, settings_path);
}

std::vector<std::string> KeyHelpLines() {
    return {
        "F10, Alt+F/A/O/H   open the File, Actions, Options and Help menus",
        "Up, Down, PgUp, PgDn, Home, End   move in the listing",
        "Shift+those keys   extend the selection",
        "Space or Insert    select or deselect the row under the cursor",
        "Ctrl+/  Ctrl+\\     select all, deselect all",
        "Enter, double click   view the row (extract instead with DoubleClick=extract",
        "                      in the [Borvan] section of borvan32.ini)",
        "Click a column title  sort by that column",
        "Ctrl+N new archive      Ctrl+O open archive      Ctrl+F favorite folders",
        "Ctrl+L close archive    F7 move   F8 copy         Ctrl+R rename archive",
        "Ctrl+A add              Ctrl+D or Delete delete   Ctrl+E extract",
        "Ctrl+V view             Ctrl+T test               Ctrl+U UUencode",
        "Ctrl+P mail archive     Ctrl+S virus scan         Ctrl+C CheckOut",
        "Ctrl+K make .EXE file   Ctrl+G install            Ctrl+W wizard",
        "Ctrl+Y always on top    F1 help and keys          Ctrl+Q or Alt+F4 exit",
        "During a run, any key or click asks whether to stop it.",
        "In the wizard: Alt+B back, Alt+N next, Alt+G go, Escape cancel,",
        "               Alt+F full manager; during its run Escape or S asks to stop.",
    };
}

}  // namespace window
