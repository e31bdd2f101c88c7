// The chat client's settings as the core uses them: identity, selected server, the positional
// option keys, texts and folders, with where "vesk.ini" lives and how it is read and written.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chat/core/windows/line_list.h"

namespace chat {

/// Every setting the core reads. Names follow the settings file's option fields.
struct ChatOptions {
    std::string szINI;     ///< settings file path
    std::string szPATH;    ///< the settings folder, with a trailing "/"
    std::string szLogDir;  ///< log folder, trailing "/" (DefaultLogFolder() unless set)

    // Identity and the selected server (section "Vesk").
    std::string szNickName, szAltNick, szUser, szEmail;
    bool nick_from_command_line = false;
    std::string szHostEntry;  ///< the selected server entry as stored
    std::string szDesc, szGroup, szHostName, szPassword;
    int Port = 6667;
    bool UseTLS = false;  ///< the port was given with "+": the link is TLS

    // Section "Local".
    std::string szLocalHost, szsip;
    uint32_t sip = 0;

    // Section "Text".
    std::string highlight, aptitle, linesep = "-", quit;

    // Section "Connection": reconnect back-off after a drop, in seconds.
    int reconnect_delay = 10;
    int reconnect_max = 300;
    /// Wait before retrying a failed connect, in milliseconds.
    int retry_delay_ms = 1500;

    // Section "Options", key "options".
    int cosu = 0, sua = 1, bom = 1, idisplay = 0, highlight_on = 0, notify = 0, ddedelay = 200,
        rcwk = 0, caok = 0, ignore = 0, mp = 1, lp = 1, doop = 0, spare1_14 = 0, sad = 0, gfsrm = 0,
        bsc = 1, das = 0, perform = 0, accrm = 0, psize = 512, udmw = 0, pom = 0, qp = 1, bgc = 0,
        bcc = 0;
    // "options2".
    int times = 5, delay = 50, olt = 0, oltc = 0, olth = 0, oltm = 0, olts = 0, sleb = 0, aap = 1,
        bod = 1, spap = 1, aglh = 1, autolc = 0, autolqc = 0, boq = 1, bon = 1, sqoc = 1, iqw = 1,
        woq = 0, omh = 0, bmwb = 0, boi = 1;
    // "options3".
    int accw = 0, pusd = 1, minget = 0, bos = 1, ipmethod = 1, spare3_6 = 0, lfc = 0, rdl = 1,
        colors = 0, tod = 60, tod2 = 120, acgw = 0, acsw = 0, lfe = 0, spare3_15 = 0, spare3_16 = 0,
        bohw = 0, usmf = 0, ajpf = 0, tod3 = 120, msgs = 20, mfs = 10, spare3_23 = 0, spare3_24 = 0,
        spare3_25 = 0;
    // "options4".
    int sbbs = 500, ekmw = 0, anqu = 0, spare4_4 = 0, rcod = 0, minsend = 0, raod = 1, tbar = 1,
        ttips = 1, fsend = 0, ajcoi = 0, agip = 1, spare4_13 = 0, eurl = 0, unw = 0, anw = 0,
        sutwa = 0, daqu = 0, esounds = 0, insr = 1, dwse = 0, uedit = 0, mil = 0, snaw = 0,
        sjpc = 1, siaw = 0, aref = 0, optiontab = 0, fingerserver = 0;
    // "options5".
    int timdelay = 800, boqm = 0, fillspaces = 1, smic = 1, sqaw = 0, listmin = 1, listmax = 999,
        matchtext = 0, exclude = 0, extracturls = 0, hnanc = 0, tse = 0, bp = 1, totop = 0, rtc = 0,
        rtct = 0, rtod = 10, pnoc = 0, dscl = 0, pfoc = 1;

    // Section "Remote": what other users may make the scripts do. Both off by default: a
    // CTCP "DO" request would let anyone run commands here, and file and program commands
    // reached from another user's text could read, overwrite or run anything.
    int ctcp_do = 0;       ///< key "ctcpdo": the CTCP word DO runs the command it carries
    int remote_files = 0;  ///< key "files": /run, /remove, /exit, /load, /save, /dde allowed
    /// Key "editor" of section "Remote": 1 edits scripts with $EDITOR instead of the built-in
    /// editor.
    int external_editor = 0;

    /// The server list (section "Servers").
    LineList szhost;
};

/// The process-wide settings.
ChatOptions& Options();
/// Fresh defaults (tests).
void ResetOptions();

/// The settings folder: $XDG_CONFIG_HOME/vesk32/ (~/.config when unset), trailing "/".
std::string DefaultSettingsFolder();
/// The log folder when the settings name none: $XDG_STATE_HOME/vesk32/logs/
/// (~/.local/state when unset), trailing "/".
std::string DefaultLogFolder();
/// The settings file from a command-line name: ".ini" added when the name has no "."; a bare
/// name lives in the settings folder; empty gives "vesk.ini" there.
std::string SettingsPathFor(std::string_view given);

/// Reads the sections the core owns, in load order, from Options().szINI, then runs the
/// readers of the layers above (SettingsReaders).
void loadini();
/// Readers of the sections that layers above the core own (texts, clicks, perform list);
/// loadini runs them in order after its own sections.
std::vector<std::function<void()>>& SettingsReaders();
/// Writers of the sections layers above the core own that must be kept at exit (changed
/// script lists); saveini runs them.
std::vector<std::function<void()>>& SettingsWriters();
/// Rewrites section "Options" (every positional key) atomically.
bool saveoptions();
/// Writes the texts of section "Text" the core owns (highlight words, title, separator line,
/// quit message); an empty text removes its key.
bool savetext();
/// The settings at exit: the settings folder is made when missing, the options and texts are
/// written, the SettingsWriters run, and section "Local" is rewritten when the local address
/// is known. The settings file is created (0600) when it did not exist yet. The identity is
/// left to the Setup dialog: at run time it may hold stand-ins (the login name) or a nickname
/// from the command line, neither of which the user chose to keep.
bool saveini();
/// Makes the folder of the settings file (and any missing parent) with mode 0700; true when
/// it exists afterwards.
bool EnsureSettingsFolder();
/// Moves the keys older settings files kept in section "Text" to where they live now: the
/// browser and finger file to "Files", the perform line to "Perform", the double-click
/// commands to "Clicks" and the server list to "Servers". Each old key is removed once its new
/// form is written; a new key already set wins over the old one.
void ConvertOldKeys();

// The settings file for every layer: read keys and list sections, and rewrite them. Each
// rewrite goes through a temporary file beside the settings file and a rename, and keeps every
// section, key and comment it was not asked to change.

/// One key of a section of the settings file, trimmed and cut to limit - 1 characters (0: no
/// limit); `def` when the file, section or key is missing.
std::string ReadSetting(std::string_view section, std::string_view key, std::string_view def = "",
                        size_t limit = 0);
/// One key read as a leading decimal number; `def` when missing or not a number.
long ReadSettingInt(std::string_view section, std::string_view key, long def);
/// Writes the given keys of a section; a key with an empty value is removed, since an empty
/// setting is stored as an absent key. Other keys and comments of the section stay. False
/// when the file could not be written (it is then as it was).
bool WriteSettings(std::string_view section,
                   const std::vector<std::pair<std::string, std::string>>& keys);
/// A list kept as numbered keys prefix0, prefix1 ... read in order up to the first missing or
/// empty key; at most `max_entries` entries, each cut to limit - 1 characters (0: no limit).
LineList ReadSettingsList(std::string_view section, std::string_view prefix, size_t limit = 0,
                          size_t max_entries = 10000);
/// Every value of a section in file order whatever its key (the own reader of long lists),
/// empty values skipped.
std::vector<std::string> ReadSettingsSection(std::string_view section);
/// Replaces a list section by prefix0, prefix1 ... (empty entries skipped; an empty list
/// removes the section). Other sections stay.
bool WriteSettingsList(std::string_view section, std::string_view prefix, const LineList& list);

/// Parses one positional key into its fields, left to right; missing fields keep their value.
void ParsePositional(std::string_view key, std::string_view value);
/// The positional key's value as written back ("%d" fields joined by ",").
std::string FormatPositional(std::string_view key);

/// Reads the user's input from the settings into the applied ranges (buffer size, time-outs).
void ClampOptions();

}  // namespace chat
