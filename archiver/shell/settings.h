// The archive manager's settings file "borvan32.ini": where it lives, every key the program
// reads or writes with its default, the option record kept hex-encoded under "Opts", and the
// regional formats of the listing, which come from its [Intl] section when set there and
// otherwise from the user's locale. Writes go key by key through the profile code, which
// replaces the file atomically and keeps every line it was not asked to change.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "archiver/formats/archive_kind.h"
#include "archiver/shell/listing.h"
#include "archiver/shell/options_record.h"

namespace shell {

/// $XDG_CONFIG_HOME/borvan32/borvan32.ini (~/.config when unset).
std::string SettingsPath();

/// Every setting of the file, with its default. Integers are the keys' numbers; texts are kept
/// as read. Placements are kept only while the saved screen size matches the current one.
struct Settings {
    /// The option record ("Opts"), the defaults where the file has no valid one.
    OptionRecord opts = DefaultOptionRecord();
    /// True when the file had an "Opts" key (valid or not).
    bool opts_present = false;

    // [Borvan]
    int save_settings = 1;           ///< "SaveSettings": save on exit
    int always_on_top = 0;           ///< "AlwaysOnTop"
    int reuse_windows = 0;           ///< "ReuseWindows" (written only)
    std::string newinstance;         ///< "newinstance": "1" never hands over
    int check_out_icon_only = 1;     ///< "CheckOutIconOnly"
    int pkzip20 = 0;                 ///< "PKZIP20"
    int new_pkzip = 0;               ///< "NewPKZIP"
    int dos_alloc = 1;               ///< "DosAlloc"
    std::string display;             ///< "Display": "%u,%u" screen size of the placements
    std::string main_placement;      ///< "Main"
    std::string view_placement;      ///< "View"
    std::string face;                ///< "Face": listing font
    int face_weight = 400;           ///< "FaceWeight"
    int size = 0;                    ///< "Size"
    int wizard = 0;                  ///< "Wizard"
    int debug_x = 0;                 ///< "DebugX"
    int drive_in_title = 0;          ///< "DriveInTitle"
    std::string nopathscan;          ///< "nopathscan"
    int lines = 0;                   ///< "lines"
    int ole_drag_drop = 1;           ///< "OleDragDrop"
    int ansi_upper = 0;              ///< "AnsiUpper"
    int dll = 0;                     ///< "DLL"
    int smart_lower_case = 1;        ///< "SmartLowerCase"
    int read_cdir = 0;               ///< "ReadCdir"
    int filter_index = 0;            ///< "FilterIndex"
    int low_res = 0;                 ///< "LowRes"
    int short_ntfs_name = 0;         ///< "short_ntfs_name"
    int open_new = 1;                ///< "OpenNew"
    int open_detail = 0;             ///< "OpenDetail"
    int password_mask = 1;           ///< "PasswordMask"
    int extract95 = 1;               ///< "Extract95"
    int default_extract_all = 0;     ///< "DefaultExtractAll"
    int assoc_msg = 1;               ///< "AssocMsg"
    int ndw = 0;                     ///< "NDW"
    int new_icon = 1;                ///< "NewIcon"
    int viewsetfont = 1;             ///< "viewsetfont"
    std::string viewdir;             ///< "viewdir"
    int search_max_drive = 26;       ///< "SearchMaxDrive"
    int bmp = 1;                     ///< "bmp"
    int show_desktop = 1;            ///< "ShowDeskTop"
    int chicago = 0;                 ///< "chicago"
    int setup = 0;                   ///< "Setup"
    std::string no_install_caution;  ///< "NoInstallCaution"
    int threads = 0;                 ///< "Threads": zip worker threads, 0 one per core
    /// "Encryption": the cipher of an add with a password ("zipcrypto", "aes128", "aes192" or
    /// "aes256"); empty or unknown means traditional zip encryption.
    std::string encryption;

    // [directories]
    int use_def_dir = 0;              ///< "zDefDir"
    std::string def_dir;              ///< "DefDir": start folder for opening (home by default)
    int use_extract_to = 0;           ///< "gzExtractTo"
    std::string extract_to;           ///< "ExtractTo"
    int use_add_dir = 0;              ///< "gzAddDir"
    std::string add_dir;              ///< "AddDir"
    std::string check_out_base;       ///< "CheckOutBase"
    std::string temp_dir;             ///< "TempDir"
    std::string zip_temp;             ///< "ZipTemp"
    int zip_temp_removable_only = 1;  ///< "ZipTempRemovableOnly"

    // [Programs] as written in the file (empty when missing; the program runner has defaults)
    std::string pkzip, pkunzip, zip2exe, lha, arj, arc, scan, viewer, scanp, vviewer;
    int scanicon = 0;  ///< "scanicon"

    /// [filemenu] "filemenu1" onward: the recent archives, most recent first.
    std::vector<std::string> recent_archives;

    // [fm]
    int fm_assoc = 1;          ///< "assoc"
    int fm_include = 1;        ///< "include"
    int fm_start = 0;          ///< "start"
    int fm_shlext = 1;         ///< "shlExt"
    std::string fm_placement;  ///< "placement"

    // [WIZARD]
    int wiz_mode_switch_dlg = 1;  ///< "ModeSwitchDlg"
    int wiz_search_done = 0;      ///< "WizSearchDone"
    std::string wiz_extract_to;   ///< "ExtractTo" (~/unzipped by default)
    int wiz_auto_add_dir = 8120;  ///< "AutoAddDir"
    int wiz_overwrite = 0;        ///< "Overwrite"
    int wiz_show_icon = 1;        ///< "ShowIcon"
    int wiz_allow_floppy = 0;     ///< "AllowFloppyInFavorites"
    /// [WizDir] "WizDir1" onward: the favourite folders.
    std::vector<std::string> favorite_folders;
};

/// The settings with every default (folders that name the home folder take $HOME).
Settings DefaultSettings();

/// Reads the settings file over the defaults; a missing file or key keeps the default and a
/// corrupt "Opts" keeps the default record. "CheckOutIconOnly", "AlwaysOnTop", "vviewer" and
/// "Display" are read only when the file has "Opts". The placements are kept only when
/// "Display" equals "<columns>,<rows>" of the current screen.
Settings LoadSettings(const std::string& path, unsigned columns = 0, unsigned rows = 0);

/// Writes what "Save Settings Now" and the exit save write: [directories], "Opts",
/// "AlwaysOnTop", "ReuseWindows", "CheckOutIconOnly", "vviewer", "Display" (the current
/// screen size), "Main" (or [fm] "placement" when started from the file manager), "View", the
/// recent archives and the favourite folders. False when the file could not be written.
bool SaveSettings(const Settings& settings, const std::string& path, unsigned columns = 0,
                  unsigned rows = 0, bool from_file_manager = false);

/// The exit save: SaveSettings when "SaveSettings" is 1, otherwise nothing is written.
bool SaveSettingsOnExit(const Settings& settings, const std::string& path, unsigned columns = 0,
                        unsigned rows = 0, bool from_file_manager = false);

/// Writes one key at once (the keys dialogs own, "SaveSettings", "newinstance"), creating the
/// settings folder (mode 0700) when needed. False when it could not be written.
bool WriteSetting(const std::string& path, const std::string& section, const std::string& key,
                  const std::string& value);

/// Replaces a numbered list section ([filemenu] "filemenu1"..., [WizDir] "WizDir1"...) with
/// `items`, empty items left out.
bool WriteSettingList(const std::string& path, const std::string& section,
                      const std::string& prefix, const std::vector<std::string>& items);

/// The default archive kind configured in the settings file; kKindUnknown when none is.
formats::ArchiveKind DefaultArchiveKind(const std::string& settings_path);

/// The locale's part of the regional formats (date order and separator from the date format,
/// time separator, thousands separator); the built-in defaults where it says nothing usable.
/// `d_fmt`, `t_fmt` and `thousands` are the locale's strings.
IntlFormat IntlFromLocale(std::string_view d_fmt, std::string_view t_fmt,
                          std::string_view thousands);

/// The regional formats: [Intl] "sShortDate", "sDate", "sTime" and "sThousand" of the
/// settings file where present, the user's locale (LC_TIME, LC_NUMERIC) for the rest.
IntlFormat LoadIntlFormat(const std::string& settings_path);

}  // namespace shell
