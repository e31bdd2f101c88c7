// Pages of settings as the Setup and Options dialogs edit them: what each control stands for
// (a field of the positional option keys or a key of the settings file), its range, how it
// is read, checked, written back and shown.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "chat/core/options.h"

namespace chat {

/// How a setting is edited.
enum class SettingKind {
    kCheck,     ///< a check box: 1 or 0 (or the words `yes`/"no" in a key)
    kNumber,    ///< a decimal number within min..max
    kText,      ///< free text of at most `limit` characters
    kPassword,  ///< text shown as '*'
    kFolder,    ///< an existing folder, or empty for the built-in choice
    kChoice,    ///< one of `choices`, stored as its index
    kNote,      ///< a line of explanation; nothing is stored
};

/// One setting of a page.
struct Setting {
    SettingKind kind = SettingKind::kCheck;
    std::string label;                         ///< as shown; "&" marks the letter
    int ChatOptions::*field = nullptr;         ///< a field of section "Options" ...
    std::string section, key;                  ///< ... or a key of the settings file
    std::string def;                           ///< the key's value when it is missing
    std::string ChatOptions::*text = nullptr;  ///< the key's copy in the settings in force
    long min = 0, max = 0;                     ///< kNumber: the accepted range
    bool clamp = false;                ///< kNumber: a value outside is brought into the range
    size_t limit = 0;                  ///< kText, kPassword, kFolder: characters kept
    std::vector<std::string> choices;  ///< kChoice: the labels of values 0, 1, ...
    std::string yes;                   ///< kCheck kept in a key: the word for on ("no" is off)
};

/// A page: its title (the page button's label) and settings in the order shown.
struct SettingsPage {
    std::string title;
    std::vector<Setting> settings;
};

/// The values of a page as edited, one text per setting: "1" or "0" for a check box, the
/// number as typed, the text, or the index of the chosen choice.
using PageValues = std::vector<std::string>;

/// The values the settings in force (and the settings file) hold.
PageValues LoadPage(const SettingsPage& page);

/// A failed check: the setting at fault and what to tell the user.
struct SettingProblem {
    size_t index = 0;
    std::string message;
};
/// Checks a page's values, bringing clamped numbers into their range and trimming texts to
/// their limit; the first problem, or an empty message when all are good.
SettingProblem CheckPage(const SettingsPage& page, PageValues& values);

/// Writes the settings whose values differ from `before` into the settings in force and the
/// settings file: keys section by section (each rewrite atomic, other keys and comments kept)
/// and the option fields through saveoptions. False when the file could not be written.
bool SavePage(const SettingsPage& page, const PageValues& before, const PageValues& after);

// Settings as the pages declare them.

/// A check box for a field of section "Options".
Setting OptionCheck(std::string label, int ChatOptions::*field);
/// A number field for a field of section "Options".
Setting OptionNumber(std::string label, int ChatOptions::*field, long min, long max,
                     bool clamp = false);
/// A row of radios for a field of section "Options" (its value is the choice's index).
Setting OptionChoice(std::string label, int ChatOptions::*field, std::vector<std::string> choices);
/// A text field for a key, with its copy in the settings in force when there is one.
Setting KeyText(std::string label, std::string section, std::string key, size_t limit,
                std::string ChatOptions::*text = nullptr, std::string def = "");
/// A check box kept in a key as "yes" or "no".
Setting KeyYesNo(std::string label, std::string section, std::string key);
/// A number kept in a key.
Setting KeyNumber(std::string label, std::string section, std::string key, std::string def,
                  long min, long max);
/// A line of explanation.
Setting Note(std::string text);

/// A problem on one of several pages: the page (1-based; 0 when all is well), the setting and
/// what to tell the user.
struct PagesProblem {
    int page = 0;
    size_t index = 0;
    std::string message;
};
/// The values of several pages.
std::vector<PageValues> LoadPages(const std::vector<SettingsPage>& pages);
/// Checks several pages in order (see CheckPage); the first problem.
PagesProblem CheckPages(const std::vector<SettingsPage>& pages, std::vector<PageValues>& values);
/// Saves several pages (see SavePage); false when any could not be written.
bool SavePages(const std::vector<SettingsPage>& pages, const std::vector<PageValues>& before,
               const std::vector<PageValues>& after);

/// A label without its "&" marks (for messages).
std::string PlainLabel(const std::string& label);

}  // namespace chat
