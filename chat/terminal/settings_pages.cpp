#include "chat/terminal/settings_pages.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <utility>

namespace chat {
namespace {

std::string Trim(std::string s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutText(std::string s, size_t limit) {
    if (limit == 0 || s.size() <= limit) return s;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
    return s;
}

// A whole decimal number (an optional "-" and digits only).
bool ParseNumber(const std::string& text, long& out) {
    if (text.empty() || text.size() > 11) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

std::string ExpandHome(const std::string& path) {
    if (path.rfind("~/", 0) != 0) return path;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + path.substr(1);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The settings file may be the first one this user has: its folder is made (0700, like the
// rest of a user's configuration) before anything is written into it.
void MakeSettingsFolder() {
    const std::string& ini = Options().szINI;
    const size_t slash = ini.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string folder = ini.substr(0, slash);
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (!IsFolder(part) && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
}

std::string KeyValue(const Setting& s) {
    if (s.text) return Options().*s.text;
    return ReadSetting(s.section, s.key, s.def);
}

}  // namespace

Setting OptionCheck(std::string label, int ChatOptions::*field) {
    Setting s;
    s.label = std::move(label);
    s.field = field;
    return s;
}

Setting OptionNumber(std::string label, int ChatOptions::*field, long min, long max, bool clamp) {
    Setting s;
    s.kind = SettingKind::kNumber;
    s.label = std::move(label);
    s.field = field;
    s.min = min;
    s.max = max;
    s.clamp = clamp;
    return s;
}

Setting OptionChoice(std::string label, int ChatOptions::*field, std::vector<std::string> choices) {
    Setting s;
    s.kind = SettingKind::kChoice;
    s.label = std::move(label);
    s.field = field;
    s.choices = std::move(choices);
    return s;
}

Setting KeyText(std::string label, std::string section, std::string key, size_t limit,
                std::string ChatOptions::*text, std::string def) {
    Setting s;
    s.kind = SettingKind::kText;
    s.label = std::move(label);
    s.section = std::move(section);
    s.key = std::move(key);
    s.limit = limit;
    s.text = text;
    s.def = std::move(def);
    return s;
}

Setting KeyYesNo(std::string label, std::string section, std::string key) {
    Setting s;
    s.label = std::move(label);
    s.section = std::move(section);
    s.key = std::move(key);
    s.def = "no";
    s.yes = "yes";
    return s;
}

Setting KeyNumber(std::string label, std::string section, std::string key, std::string def,
                  long min, long max) {
    Setting s;
    s.kind = SettingKind::kNumber;
    s.label = std::move(label);
    s.section = std::move(section);
    s.key = std::move(key);
    s.def = std::move(def);
    s.min = min;
    s.max = max;
    return s;
}

Setting Note(std::string text) {
    Setting s;
    s.kind = SettingKind::kNote;
    s.label = std::move(text);
    return s;
}

std::vector<PageValues> LoadPages(const std::vector<SettingsPage>& pages) {
    std::vector<PageValues> values;
    for (const SettingsPage& page : pages) values.push_back(LoadPage(page));
    return values;
}

PagesProblem CheckPages(const std::vector<SettingsPage>& pages, std::vector<PageValues>& values) {
    values.resize(pages.size());
    for (size_t p = 0; p < pages.size(); ++p) {
        SettingProblem problem = CheckPage(pages[p], values[p]);
        if (!problem.message.empty())
            return {static_cast<int>(p) + 1, problem.index, problem.message};
    }
    return {};
}

bool SavePages(const std::vector<SettingsPage>& pages, const std::vector<PageValues>& before,
               const std::vector<PageValues>& after) {
    bool ok = true;
    for (size_t p = 0; p < pages.size() && p < before.size() && p < after.size(); ++p)
        ok = SavePage(pages[p], before[p], after[p]) && ok;
    return ok;
}

std::string PlainLabel(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&' && i + 1 < label.size()) ++i;
        out.push_back(label[i]);
    }
    while (!out.empty() && (out.back() == ':' || out.back() == ' ')) out.pop_back();
    return out;
}

PageValues LoadPage(const SettingsPage& page) {
    const ChatOptions& o = Options();
    PageValues values;
    for (const Setting& s : page.settings) {
        std::string v;
        switch (s.kind) {
            case SettingKind::kCheck:
                if (s.field) {
                    v = o.*s.field ? "1" : "0";
                } else if (!s.yes.empty()) {
                    v = EqualNoCase(KeyValue(s), s.yes) ? "1" : "0";
                } else {
                    v = std::strtol(KeyValue(s).c_str(), nullptr, 10) ? "1" : "0";
                }
                break;
            case SettingKind::kNumber:
                // A key such as "113,0" holds its number first.
                v = std::to_string(s.field ? o.*s.field
                                           : std::strtol(KeyValue(s).c_str(), nullptr, 10));
                break;
            case SettingKind::kChoice: {
                const long n = static_cast<long>(s.choices.size());
                const long at =
                    s.field ? o.*s.field : std::strtol(KeyValue(s).c_str(), nullptr, 10);
                v = std::to_string(std::clamp<long>(at, 0, std::max<long>(n - 1, 0)));
                break;
            }
            case SettingKind::kText:
            case SettingKind::kPassword:
            case SettingKind::kFolder:
                v = KeyValue(s);
                break;
            case SettingKind::kNote:
                break;
        }
        values.push_back(std::move(v));
    }
    return values;
}

SettingProblem CheckPage(const SettingsPage& page, PageValues& values) {
    values.resize(page.settings.size());
    for (size_t i = 0; i < page.settings.size(); ++i) {
        const Setting& s = page.settings[i];
        std::string& v = values[i];
        const std::string name = PlainLabel(s.label);
        switch (s.kind) {
            case SettingKind::kNumber: {
                v = Trim(v);
                long n = 0;
                const std::string range =
                    " between " + std::to_string(s.min) + " and " + std::to_string(s.max) + ".";
                if (!ParseNumber(v, n)) return {i, name + " must be a number" + range};
                if (n < s.min || n > s.max) {
                    if (!s.clamp) return {i, name + " must be" + range};
                    v = std::to_string(std::clamp(n, s.min, s.max));
                }
                break;
            }
            case SettingKind::kText:
            case SettingKind::kPassword:
                v = CutText(Trim(v), s.limit);
                break;
            case SettingKind::kFolder:
                v = CutText(ExpandHome(Trim(v)), s.limit);
                if (!v.empty() && !IsFolder(v)) return {i, "The folder " + v + " does not exist."};
                break;
            case SettingKind::kCheck:
                v = v == "1" ? "1" : "0";
                break;
            case SettingKind::kChoice: {
                long n = 0;
                if (!ParseNumber(v, n) || n < 0 || n >= static_cast<long>(s.choices.size()))
                    v = "0";
                break;
            }
            case SettingKind::kNote:
                break;
        }
    }
    return {};
}

bool SavePage(const SettingsPage& page, const PageValues& before, const PageValues& after) {
    ChatOptions& o = Options();
    bool fields_changed = false;
    // Keys section by section, in the order the page shows them.
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> keys;
    for (size_t i = 0; i < page.settings.size() && i < after.size(); ++i) {
        const Setting& s = page.settings[i];
        if (s.kind == SettingKind::kNote) continue;
        if (i < before.size() && before[i] == after[i]) continue;
        const std::string& v = after[i];
        if (s.field) {
            o.*s.field = static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
            fields_changed = true;
            continue;
        }
        if (s.key.empty()) continue;
        std::string stored = v;
        if (s.kind == SettingKind::kCheck && !s.yes.empty()) stored = v == "1" ? s.yes : "no";
        if (s.text) o.*s.text = v;
        if (!keys.count(s.section)) order.push_back(s.section);
        keys[s.section].emplace_back(s.key, stored);
    }
    if (order.empty() && !fields_changed) return true;
    MakeSettingsFolder();
    bool ok = true;
    for (const std::string& section : order) ok = WriteSettings(section, keys[section]) && ok;
    if (fields_changed) {
        ClampOptions();
        ok = saveoptions() && ok;
    }
    return ok;
}

}  // namespace chat
