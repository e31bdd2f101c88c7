#include "archiver/shell/settings.h"

#include <langinfo.h>
#include <locale.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/profile.h"

namespace shell {

namespace {

// The order of the first d, m and y of a Windows-style short date ("M/d/yy").
std::string OrderOfShortDate(std::string_view format) {
    std::string order;
    for (char c : format) {
        char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos)
            order.push_back(l);
    }
    return order.size() == 3 ? order : "mdy";
}

bool IsSingleSeparator(std::string_view s) {
    return s.size() == 1 && static_cast<unsigned char>(s[0]) < 0x80 &&
           std::ispunct(static_cast<unsigned char>(s[0]));
}

// The literal text between the first two conversions of a strftime format ("%d.%m.%Y": ".").
std::string_view SeparatorOf(std::string_view fmt) {
    size_t first = fmt.find('%');
    if (first == fmt.npos || first + 2 > fmt.size()) return {};
    size_t start = first + 2;
    size_t next = fmt.find('%', start);
    return fmt.substr(start, next == fmt.npos ? fmt.npos : next - start);
}

}  // namespace

std::string SettingsPath() {
    return platform::ConfigFolder("borvan32") + "borvan32.ini";
}

namespace {

// The [Borvan] keys read at every start, in the order they are read.
struct IntKey {
    const char* section;
    const char* key;
    int Settings::*member;
};
struct TextKey {
    const char* section;
    const char* key;
    std::string Settings::*member;
};

constexpr IntKey kIntKeys[] = {
    {"Borvan", "PKZIP20", &Settings::pkzip20},
    {"Borvan", "SaveSettings", &Settings::save_settings},
    {"Borvan", "DosAlloc", &Settings::dos_alloc},
    {"Borvan", "NewPKZIP", &Settings::new_pkzip},
    {"Borvan", "FaceWeight", &Settings::face_weight},
    {"Borvan", "Size", &Settings::size},
    {"Borvan", "Wizard", &Settings::wizard},
    {"Borvan", "DebugX", &Settings::debug_x},
    {"Borvan", "DriveInTitle", &Settings::drive_in_title},
    {"Borvan", "lines", &Settings::lines},
    {"Borvan", "OleDragDrop", &Settings::ole_drag_drop},
    {"Borvan", "AnsiUpper", &Settings::ansi_upper},
    {"Borvan", "DLL", &Settings::dll},
    {"Borvan", "SmartLowerCase", &Settings::smart_lower_case},
    {"Borvan", "ReadCdir", &Settings::read_cdir},
    {"Borvan", "FilterIndex", &Settings::filter_index},
    {"Borvan", "LowRes", &Settings::low_res},
    {"Borvan", "short_ntfs_name", &Settings::short_ntfs_name},
    {"Borvan", "OpenNew", &Settings::open_new},
    {"Borvan", "OpenDetail", &Settings::open_detail},
    {"Borvan", "PasswordMask", &Settings::password_mask},
    {"Borvan", "Extract95", &Settings::extract95},
    {"Borvan", "DefaultExtractAll", &Settings::default_extract_all},
    {"Borvan", "AssocMsg", &Settings::assoc_msg},
    {"Borvan", "NDW", &Settings::ndw},
    {"Borvan", "NewIcon", &Settings::new_icon},
    {"Borvan", "viewsetfont", &Settings::viewsetfont},
    {"Borvan", "SearchMaxDrive", &Settings::search_max_drive},
    {"Borvan", "bmp", &Settings::bmp},
    {"Borvan", "ShowDeskTop", &Settings::show_desktop},
    {"Borvan", "chicago", &Settings::chicago},
    {"Borvan", "Setup", &Settings::setup},
    {"Borvan", "Threads", &Settings::threads},
    {"directories", "zDefDir", &Settings::use_def_dir},
    {"directories", "gzExtractTo", &Settings::use_extract_to},
    {"directories", "gzAddDir", &Settings::use_add_dir},
    {"directories", "ZipTempRemovableOnly", &Settings::zip_temp_removable_only},
    {"Programs", "scanicon", &Settings::scanicon},
    {"fm", "assoc", &Settings::fm_assoc},
    {"fm", "include", &Settings::fm_include},
    {"fm", "start", &Settings::fm_start},
    {"fm", "shlExt", &Settings::fm_shlext},
    {"WIZARD", "ModeSwitchDlg", &Settings::wiz_mode_switch_dlg},
    {"WIZARD", "WizSearchDone", &Settings::wiz_search_done},
    {"WIZARD", "AutoAddDir", &Settings::wiz_auto_add_dir},
    {"WIZARD", "Overwrite", &Settings::wiz_overwrite},
    {"WIZARD", "ShowIcon", &Settings::wiz_show_icon},
    {"WIZARD", "AllowFloppyInFavorites", &Settings::wiz_allow_floppy},
};

constexpr TextKey kTextKeys[] = {
    {"Programs", "pkzip", &Settings::pkzip},
    {"Programs", "pkunzip", &Settings::pkunzip},
    {"Programs", "zip2exe", &Settings::zip2exe},
    {"Programs", "lha", &Settings::lha},
    {"Programs", "arj", &Settings::arj},
    {"Programs", "arc", &Settings::arc},
    {"Programs", "scan", &Settings::scan},
    {"Programs", "viewer", &Settings::viewer},
    {"Programs", "scanp", &Settings::scanp},
    {"Borvan", "newinstance", &Settings::newinstance},
    {"Borvan", "Face", &Settings::face},
    {"Borvan", "nopathscan", &Settings::nopathscan},
    {"Borvan", "viewdir", &Settings::viewdir},
    {"Borvan", "NoInstallCaution", &Settings::no_install_caution},
    {"Borvan", "Encryption", &Settings::encryption},
    {"fm", "placement", &Settings::fm_placement},
    {"WIZARD", "ExtractTo", &Settings::wiz_extract_to},
};

// The folders saved by "Save Settings Now" and at exit.
constexpr IntKey kFolderSwitches[] = {
    {"directories", "zDefDir", &Settings::use_def_dir},
    {"directories", "gzExtractTo", &Settings::use_extract_to},
    {"directories", "gzAddDir", &Settings::use_add_dir},
    {"directories", "ZipTempRemovableOnly", &Settings::zip_temp_removable_only},
};
constexpr TextKey kFolders[] = {
    {"directories", "DefDir", &Settings::def_dir},
    {"directories", "ExtractTo", &Settings::extract_to},
    {"directories", "AddDir", &Settings::add_dir},
    {"directories", "CheckOutBase", &Settings::check_out_base},
    {"directories", "TempDir", &Settings::temp_dir},
    {"directories", "ZipTemp", &Settings::zip_temp},
};

// Numbers in the file are C longs; anything outside int keeps the default.
int ReadInt(const char* section, const char* key, int fallback, const std::string& path) {
    long v = platform::GetPrivateProfileInt(section, key, fallback, path);
    return v < INT_MIN || v > INT_MAX ? fallback : static_cast<int>(v);
}

std::string ReadText(const char* section, const char* key, const std::string& fallback,
                     const std::string& path) {
    return platform::GetPrivateProfileString(section, key, fallback, 0, path);
}

std::vector<std::string> ReadList(const std::string& section, const std::string& prefix,
                                  const std::string& path) {
    std::vector<std::string> items;
    // Bounded: a hostile file cannot make the list grow without end.
    for (int n = 1; n <= 1000; ++n) {
        std::string v =
            platform::GetPrivateProfileString(section, prefix + std::to_string(n), "", 0, path);
        if (v.empty()) break;
        items.push_back(std::move(v));
    }
    return items;
}

std::string ScreenSize(unsigned columns, unsigned rows) {
    return std::to_string(columns) + "," + std::to_string(rows);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

// The settings folder, made private when this program creates it.
bool MakeFolderFor(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    std::string folder = path.substr(0, slash);
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        std::string part = at == std::string::npos ? folder : folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) break;
    }
    return true;
}

}  // namespace

Settings DefaultSettings() {
    Settings s;
    s.def_dir = HomeFolder();
    s.wiz_extract_to = HomeFolder() + "/unzipped";
    return s;
}

Settings LoadSettings(const std::string& path, unsigned columns, unsigned rows) {
    Settings s = DefaultSettings();
    for (const IntKey& k : kIntKeys) s.*k.member = ReadInt(k.section, k.key, s.*k.member, path);
    for (const TextKey& k : kTextKeys) s.*k.member = ReadText(k.section, k.key, s.*k.member, path);
    for (const TextKey& k : kFolders) s.*k.member = ReadText(k.section, k.key, s.*k.member, path);
    std::string opts = ReadText("Borvan", "Opts", "", path);
    s.opts_present = !opts.empty();
    if (s.opts_present) {
        DecodeOptionRecord(opts, s.opts);  // a corrupt record keeps the defaults
        s.check_out_icon_only = ReadInt("Borvan", "CheckOutIconOnly", 1, path);
        s.always_on_top = ReadInt("Borvan", "AlwaysOnTop", 0, path);
        s.vviewer = ReadText("Programs", "vviewer", "", path);
        s.display = ReadText("Borvan", "Display", "", path);
        if (!s.display.empty() && s.display == ScreenSize(columns, rows)) {
            s.main_placement = ReadText("Borvan", "Main", "", path);
            s.view_placement = ReadText("Borvan", "View", "", path);
        } else {
            s.fm_placement.clear();
        }
    } else {
        s.fm_placement.clear();
    }
    s.recent_archives = ReadList("filemenu", "filemenu", path);
    s.favorite_folders = ReadList("WizDir", "WizDir", path);
    return s;
}

bool WriteSetting(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value) {
    return MakeFolderFor(path) && platform::WritePrivateProfileString(section, key, value, path);
}

bool WriteSettingList(const std::string& path, const std::string& section,
                      const std::string& prefix, const std::vector<std::string>& items) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const std::string& item : items)
        if (!item.empty()) lines.emplace_back(prefix + std::to_string(lines.size() + 1), item);
    return MakeFolderFor(path) && platform::WriteProfileSection(section, lines, path);
}

bool SaveSettings(const Settings& s, const std::string& path, unsigned columns, unsigned rows,
                  bool from_file_manager) {
    bool ok = true;
    auto put = [&](const char* section, const char* key, const std::string& value) {
        ok = WriteSetting(path, section, key, value) && ok;
    };
    auto flag = [](int v) { return std::string(v ? "1" : "0"); };
    for (const IntKey& k : kFolderSwitches) put(k.section, k.key, std::to_string(s.*k.member));
    for (const TextKey& k : kFolders) put(k.section, k.key, s.*k.member);
    put("Borvan", "Opts", EncodeOptionRecord(s.opts));
    put("Borvan", "AlwaysOnTop", flag(s.always_on_top));
    put("Borvan", "ReuseWindows", flag(s.reuse_windows));
    put("Borvan", "CheckOutIconOnly", flag(s.check_out_icon_only));
    put("Programs", "vviewer", s.vviewer);
    put("Borvan", "Display", ScreenSize(columns, rows));
    if (from_file_manager)
        put("fm", "placement", s.fm_placement);
    else
        put("Borvan", "Main", s.main_placement);
    put("Borvan", "View", s.view_placement);
    ok = WriteSettingList(path, "filemenu", "filemenu", s.recent_archives) && ok;
    ok = WriteSettingList(path, "WizDir", "WizDir", s.favorite_folders) && ok;
    return ok;
}

bool SaveSettingsOnExit(const Settings& s, const std::string& path, unsigned columns, unsigned rows,
                        bool from_file_manager) {
    return s.save_settings == 1 ? SaveSettings(s, path, columns, rows, from_file_manager) : true;
}

formats::ArchiveKind DefaultArchiveKind(const std::string& settings_path) {
    OptionRecord record{};
    std::string opts = platform::GetPrivateProfileString("Borvan", "Opts", "", 0, settings_path);
    if (!DecodeOptionRecord(opts, record)) return formats::kKindUnknown;
    unsigned kind = record[kOptDefaultKind] | record[kOptDefaultKind + 1] << 8;
    // Only kinds an archive can be opened as; anything else counts as not configured.
    return kind >= formats::kKindZip && kind <= formats::kKindEncodedMail
               ? static_cast<formats::ArchiveKind>(kind)
               : formats::kKindUnknown;
}

IntlFormat IntlFromLocale(std::string_view d_fmt, std::string_view t_fmt,
                          std::string_view thousands) {
    IntlFormat intl;
    std::string order;
    std::string_view date_sep;
    if (d_fmt == "%D") {
        order = "mdy";
        date_sep = "/";
    } else if (d_fmt == "%F") {
        order = "ymd";
        date_sep = "-";
    } else {
        for (size_t i = 0; i + 1 < d_fmt.size(); ++i) {
            if (d_fmt[i] != '%') continue;
            size_t c = i + 1;
            while (c < d_fmt.size() && (d_fmt[c] == 'E' || d_fmt[c] == 'O' || d_fmt[c] == '-' ||
                                        d_fmt[c] == '_' || d_fmt[c] == '0'))
                ++c;  // modifiers and flags
            if (c >= d_fmt.size()) break;
            char letter = d_fmt[c];
            char field = letter == 'd' || letter == 'e'   ? 'd'
                         : letter == 'm' || letter == 'b' ? 'm'
                         : letter == 'y' || letter == 'Y' ? 'y'
                                                          : 0;
            if (field && order.find(field) == std::string::npos) order.push_back(field);
            i = c;
        }
        date_sep = SeparatorOf(d_fmt);
    }
    if (order.size() == 3) intl.date_order = order;
    if (IsSingleSeparator(date_sep)) intl.date_sep = date_sep[0];
    std::string_view time_sep = SeparatorOf(t_fmt);
    if (IsSingleSeparator(time_sep)) intl.time_sep = time_sep[0];
    if (!thousands.empty()) intl.thousand_sep = std::string(thousands);
    return intl;
}

IntlFormat LoadIntlFormat(const std::string& settings_path) {
    IntlFormat intl;
    // The user's locale without changing the program's own (which stays "C" for byte work).
    locale_t loc = newlocale(LC_TIME_MASK | LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc) {
        intl = IntlFromLocale(nl_langinfo_l(D_FMT, loc), nl_langinfo_l(T_FMT, loc),
                              nl_langinfo_l(THOUSEP, loc));
        freelocale(loc);
    }
    auto ini = [&](const char* key) {
        return platform::GetPrivateProfileString("Intl", key, "", 0, settings_path);
    };
    if (std::string v = ini("sShortDate"); !v.empty()) intl.date_order = OrderOfShortDate(v);
    if (std::string v = ini("sDate"); !v.empty()) intl.date_sep = v[0];
    if (std::string v = ini("sTime"); !v.empty()) intl.time_sep = v[0];
    if (std::string v = ini("sThousand"); !v.empty()) intl.thousand_sep = v;
    return intl;
}

}  // namespace shell
