#include "chat/core/options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "chat/core/connection/server_list.h"
#include "chat/core/process_wide.h"
#include "platform/profile.h"
#include "platform/xdg_places.h"

namespace chat {
namespace {

using Field = int ChatOptions::*;

struct PositionalKey {
    const char* key;
    std::vector<Field> fields;
};

const std::vector<PositionalKey>& PositionalKeys() {
    using O = ChatOptions;
    static const std::vector<PositionalKey> keys = {
        {"options",
         {&O::cosu,     &O::sua,       &O::bom,   &O::idisplay, &O::highlight_on, &O::notify,
          &O::ddedelay, &O::rcwk,      &O::caok,  &O::ignore,   &O::mp,           &O::lp,
          &O::doop,     &O::spare1_14, &O::sad,   &O::gfsrm,    &O::bsc,          &O::das,
          &O::perform,  &O::accrm,     &O::psize, &O::udmw,     &O::pom,          &O::qp,
          &O::bgc,      &O::bcc}},
        {"options2",
         {&O::times, &O::delay, &O::olt,  &O::oltc, &O::olth,   &O::oltm,    &O::olts, &O::sleb,
          &O::aap,   &O::bod,   &O::spap, &O::aglh, &O::autolc, &O::autolqc, &O::boq,  &O::bon,
          &O::sqoc,  &O::iqw,   &O::woq,  &O::omh,  &O::bmwb,   &O::boi}},
        {"options3", {&O::accw,      &O::pusd, &O::minget,    &O::bos,       &O::ipmethod,
                      &O::spare3_6,  &O::lfc,  &O::rdl,       &O::colors,    &O::tod,
                      &O::tod2,      &O::acgw, &O::acsw,      &O::lfe,       &O::spare3_15,
                      &O::spare3_16, &O::bohw, &O::usmf,      &O::ajpf,      &O::tod3,
                      &O::msgs,      &O::mfs,  &O::spare3_23, &O::spare3_24, &O::spare3_25}},
        {"options4",
         {&O::sbbs,      &O::ekmw, &O::anqu,  &O::spare4_4,  &O::rcod,        &O::minsend,
          &O::raod,      &O::tbar, &O::ttips, &O::fsend,     &O::ajcoi,       &O::agip,
          &O::spare4_13, &O::eurl, &O::unw,   &O::anw,       &O::sutwa,       &O::daqu,
          &O::esounds,   &O::insr, &O::dwse,  &O::uedit,     &O::mil,         &O::snaw,
          &O::sjpc,      &O::siaw, &O::aref,  &O::optiontab, &O::fingerserver}},
        {"options5", {&O::timdelay, &O::boqm,    &O::fillspaces, &O::smic,    &O::sqaw,
                      &O::listmin,  &O::listmax, &O::matchtext,  &O::exclude, &O::extracturls,
                      &O::hnanc,    &O::tse,     &O::bp,         &O::totop,   &O::rtc,
                      &O::rtct,     &O::rtod,    &O::pnoc,       &O::dscl,    &O::pfoc}},
    };
    return keys;
}

const PositionalKey* FindKey(std::string_view key) {
    for (const PositionalKey& k : PositionalKeys())
        if (EqualNoCase(k.key, key)) return &k;
    return nullptr;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Read(const char* section, const char* key, const std::string& def, size_t limit) {
    return platform::GetPrivateProfileString(section, key, def, limit, Options().szINI);
}

ChatOptions& Storage() {
    return ProcessWide<ChatOptions>();
}

}  // namespace

ChatOptions& Options() {
    return Storage();
}

void ResetOptions() {
    Storage() = ChatOptions{};
}

std::string DefaultSettingsFolder() {
    return platform::ConfigFolder("vesk32");
}

std::string DefaultLogFolder() {
    return platform::StateFolder("vesk32") + "logs/";
}

std::string SettingsPathFor(std::string_view given) {
    std::string name(given);
    if (name.empty()) return DefaultSettingsFolder() + "vesk.ini";
    size_t slash = name.rfind('/');
    std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (file.empty()) return name + "vesk.ini";
    if (file.find('.') == std::string::npos) name += ".ini";
    if (slash == std::string::npos) name = DefaultSettingsFolder() + name;
    return name;
}

void ParsePositional(std::string_view key, std::string_view value) {
    const PositionalKey* k = FindKey(key);
    if (!k) return;
    ChatOptions& o = Options();
    size_t pos = 0;
    for (Field f : k->fields) {
        if (pos > value.size()) break;
        size_t comma = value.find(',', pos);
        std::string_view item = value.substr(
            pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (!item.empty()) {
            std::string s(item);
            char* end = nullptr;
            long v = std::strtol(s.c_str(), &end, 10);
            if (end != s.c_str()) o.*f = static_cast<int>(v);
        }
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
}

std::string FormatPositional(std::string_view key) {
    const PositionalKey* k = FindKey(key);
    if (!k) return {};
    std::string out;
    for (Field f : k->fields) {
        if (!out.empty()) out.push_back(',');
        out += std::to_string(Options().*f);
    }
    return out;
}

void ClampOptions() {
    ChatOptions& o = Options();
    if (o.sbbs < 200) o.sbbs = 200;
    if (o.sbbs > 30000) o.sbbs = 30000;
    if (o.delay < 0) o.delay = 0;
    if (o.rdl < 1) o.rdl = 1;
    if (o.tod < 5) o.tod = 60;
    if (o.tod2 < 5) o.tod2 = 120;
    if (o.tod3 < 5) o.tod3 = 120;
    if (o.aglh) o.agip = 1;
    // A connect must always time out; a non-positive wait would never end an attempt.
    if (o.rtod < 1) o.rtod = 10;
    if (o.rtct < 0) o.rtct = 0;
    if (o.reconnect_delay < 1) o.reconnect_delay = 1;
    if (o.retry_delay_ms < 0) o.retry_delay_ms = 0;
    if (o.reconnect_max < o.reconnect_delay) o.reconnect_max = o.reconnect_delay;
}

void loadini() {
    ChatOptions& o = Options();
    size_t slash = o.szINI.rfind('/');
    o.szPATH = slash == std::string::npos ? DefaultSettingsFolder() : o.szINI.substr(0, slash + 1);
    ConvertOldKeys();

    o.szUser = Read("Vesk", "user", "", 100);
    o.szEmail = Read("Vesk", "email", "", 100);
    if (!o.nick_from_command_line) {
        o.szNickName = Read("Vesk", "nick", "", 100);
        o.szAltNick = Read("Vesk", "anick", "", 100);
    }
    o.szHostEntry = Read("Vesk", "host", "", 0);
    if (!o.szHostEntry.empty()) extractserv(o.szHostEntry);

    o.szLocalHost = Read("Local", "local", "", 100);
    o.szsip = Read("Local", "localip", "", 100);
    o.sip =
        static_cast<uint32_t>(std::strtoul(Read("Local", "longip", "0", 0).c_str(), nullptr, 10));

    for (const PositionalKey& k : PositionalKeys()) {
        std::string v = Read("Options", k.key, "", 0);
        if (!v.empty()) ParsePositional(k.key, v);
    }

    o.highlight = Read("Text", "highlight", "", 700);
    o.aptitle = Read("Text", "aptitle", "", 256);
    o.linesep = Read("Text", "linesep", "-", 30);
    if (EqualNoCase(o.linesep, "none")) o.linesep.clear();
    if (EqualNoCase(o.linesep, "space")) o.linesep = " ";
    o.quit = Read("Text", "quit", "", 256);

    o.szLogDir = Read("Dirs", "logdir", "", 256);
    if (!o.szLogDir.empty() && o.szLogDir.back() != '/') o.szLogDir.push_back('/');
    // Logs are the user's state, not settings: without a folder of the user's own choosing
    // they go to the XDG state folder, made when the first log opens.
    if (!IsFolder(o.szLogDir)) o.szLogDir = DefaultLogFolder();

    o.reconnect_delay = static_cast<int>(
        platform::GetPrivateProfileInt("Connection", "reconnectdelay", 10, o.szINI));
    o.reconnect_max = static_cast<int>(
        platform::GetPrivateProfileInt("Connection", "reconnectmax", 300, o.szINI));

    o.retry_delay_ms =
        static_cast<int>(platform::GetPrivateProfileInt("Connection", "retrydelay", 1500, o.szINI));

    o.ctcp_do = static_cast<int>(platform::GetPrivateProfileInt("Remote", "ctcpdo", 0, o.szINI));
    o.remote_files =
        static_cast<int>(platform::GetPrivateProfileInt("Remote", "files", 0, o.szINI));
    o.external_editor =
        static_cast<int>(platform::GetPrivateProfileInt("Remote", "editor", 0, o.szINI));

    freelines(o.szhost);
    for (int i = 0;; ++i) {
        std::string entry = Read("Servers", ("sv" + std::to_string(i)).c_str(), "", 0);
        if (entry.empty()) break;
        aline(o.szhost, entry, false);
    }
    ClampOptions();
    for (auto& reader : SettingsReaders()) reader();
}

std::vector<std::function<void()>>& SettingsReaders() {
    static std::vector<std::function<void()>> readers;
    return readers;
}

std::string ReadSetting(std::string_view section, std::string_view key, std::string_view def,
                        size_t limit) {
    return platform::GetPrivateProfileString(std::string(section), std::string(key),
                                             std::string(def), limit, Options().szINI);
}

long ReadSettingInt(std::string_view section, std::string_view key, long def) {
    return platform::GetPrivateProfileInt(std::string(section), std::string(key), def,
                                          Options().szINI);
}

bool WriteSettings(std::string_view section,
                   const std::vector<std::pair<std::string, std::string>>& keys) {
    const std::string& path = Options().szINI;
    if (path.empty() || !EnsureSettingsFolder()) return false;
    bool ok = true;
    for (const auto& [key, value] : keys) {
        // A value that would end its line early is never written: it could forge other keys.
        if (value.find_first_of("\r\n") != std::string::npos) {
            ok = false;
            continue;
        }
        if (value.empty()) {
            if (!platform::GetPrivateProfileString(std::string(section), key, "", 0, path).empty())
                ok = platform::DeletePrivateProfileKey(std::string(section), key, path) && ok;
        } else if (platform::GetPrivateProfileString(std::string(section), key, "", 0, path) !=
                   value) {
            ok = platform::WritePrivateProfileString(std::string(section), key, value, path) && ok;
        }
    }
    return ok;
}

LineList ReadSettingsList(std::string_view section, std::string_view prefix, size_t limit,
                          size_t max_entries) {
    LineList list;
    for (size_t i = 0; i < max_entries; ++i) {
        std::string v = ReadSetting(section, std::string(prefix) + std::to_string(i), "", limit);
        if (v.empty()) break;
        aline(list, v, false);
    }
    return list;
}

std::vector<std::string> ReadSettingsSection(std::string_view section) {
    std::vector<std::string> out;
    for (auto& [key, value] : platform::ReadProfileSection(std::string(section), Options().szINI))
        if (!value.empty()) out.push_back(std::move(value));
    return out;
}

bool WriteSettingsList(std::string_view section, std::string_view prefix, const LineList& list) {
    std::vector<std::pair<std::string, std::string>> lines;
    size_t index = 0;
    for (const Line& l : list) {
        if (l.text.empty() || l.text.find_first_of("\r\n") != std::string::npos) continue;
        lines.emplace_back(std::string(prefix) + std::to_string(index++), l.text);
    }
    if (!EnsureSettingsFolder()) return false;
    return platform::WriteProfileSection(std::string(section), lines, Options().szINI);
}

bool saveoptions() {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const PositionalKey& k : PositionalKeys())
        lines.emplace_back(k.key, FormatPositional(k.key));
    return WriteSettings("Options", lines);
}

std::vector<std::function<void()>>& SettingsWriters() {
    static std::vector<std::function<void()>> writers;
    return writers;
}

bool savetext() {
    const ChatOptions& o = Options();
    std::string linesep = o.linesep.empty() ? "none" : o.linesep == " " ? "space" : o.linesep;
    return WriteSettings("Text", {{"highlight", o.highlight},
                                  {"aptitle", o.aptitle},
                                  {"linesep", linesep},
                                  {"quit", o.quit}});
}

bool EnsureSettingsFolder() {
    const std::string& ini = Options().szINI;
    size_t slash = ini.rfind('/');
    if (slash == std::string::npos) return true;
    std::string folder = ini.substr(0, slash);
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        std::string part = folder.substr(0, end);
        if (!part.empty() && !IsFolder(part) && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (end == std::string::npos) break;
    }
    return folder.empty() || IsFolder(folder);
}

bool saveini() {
    const ChatOptions& o = Options();
    if (o.szINI.empty() || !EnsureSettingsFolder()) return false;
    bool ok = saveoptions();
    ok = savetext() && ok;
    for (auto& writer : SettingsWriters()) writer();
    if (o.sip == 0) return ok;
    std::vector<std::pair<std::string, std::string>> lines;
    if (!o.szLocalHost.empty()) lines.emplace_back("local", o.szLocalHost);
    if (!o.szsip.empty()) lines.emplace_back("localip", o.szsip);
    lines.emplace_back("longip", std::to_string(o.sip));
    return platform::WriteProfileSection("Local", lines, o.szINI) && ok;
}

namespace {

// Moves one old key to its new place unless the new one is set already.
void MoveKey(const char* old_key, const char* section, const char* key, size_t limit) {
    std::string old = ReadSetting("Text", old_key, "", limit);
    if (old.empty()) return;
    bool moved = !ReadSetting(section, key).empty() || WriteSettings(section, {{key, old}});
    if (moved) WriteSettings("Text", {{old_key, ""}});
}

// Splits at a separator, keeping empty pieces.
std::vector<std::string> SplitAt(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    for (;;) {
        size_t at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + separator.size());
    }
}

bool Contains(const LineList& list, std::string_view text) {
    for (const Line& l : list)
        if (EqualNoCase(l.text, text)) return true;
    return false;
}

}  // namespace

void ConvertOldKeys() {
    if (Options().szINI.empty()) return;
    MoveKey("wwwbrowser", "Files", "browser", 256);
    MoveKey("fingerfile", "Files", "finger", 256);

    // One perform line, from before there was a list of them.
    std::string perform = ReadSetting("Text", "perform", "", 700);
    if (!perform.empty()) {
        LineList lines = ReadSettingsList("Perform", "p", 700);
        if (!Contains(lines, perform)) aline(lines, perform, false);
        if (WriteSettingsList("Perform", "p", lines)) WriteSettings("Text", {{"perform", ""}});
    }

    // The four double-click commands in one key, separated by "::".
    std::string dclick = ReadSetting("Text", "dclick");
    if (!dclick.empty()) {
        static const char* const kClicks[] = {"status", "query", "channel", "nicklist"};
        std::vector<std::string> parts = SplitAt(dclick, "::");
        std::vector<std::pair<std::string, std::string>> keys;
        for (size_t i = 0; i < 4 && i < parts.size(); ++i) {
            std::string command = parts[i].substr(0, 255);
            if (!command.empty() && ReadSetting("Clicks", kClicks[i]).empty())
                keys.emplace_back(kClicks[i], command);
        }
        if (WriteSettings("Clicks", keys)) WriteSettings("Text", {{"dclick", ""}});
    }

    // Servers as blank-separated 'host:port' words, from before entries had descriptions.
    std::string hosts = ReadSetting("Text", "hosts");
    if (!hosts.empty()) {
        LineList servers = ReadSettingsList("Servers", "sv");
        for (const std::string& word : SplitAt(hosts, " ")) {
            if (word.empty()) continue;
            std::string entry = word;
            if (word.find("SERVER:") == std::string::npos)
                entry = word.substr(0, std::min<size_t>(word.find(':'), 100)) + "SERVER:" + word;
            if (!Contains(servers, entry)) aline(servers, entry, false);
        }
        if (WriteSettingsList("Servers", "sv", servers)) WriteSettings("Text", {{"hosts", ""}});
    }
}

}  // namespace chat
