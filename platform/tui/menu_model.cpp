#include "platform/tui/menu_model.h"

#include <cwctype>

#include "platform/tui/text.h"

namespace tui {

namespace {

bool Usable(const MenuItem& item) {
    return !item.separator;
}

size_t FirstUsable(const std::vector<MenuItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (Usable(items[i])) return i;
    }
    return 0;
}

char32_t Lower(char32_t c) {
    return static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
}

}  // namespace

std::string MenuLabel(const std::string& text) {
    std::string out;
    const size_t tab = text.find('\t');
    const std::string label = text.substr(0, tab);
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&') {
            if (i + 1 < label.size() && label[i + 1] == '&') {
                out.push_back('&');
                ++i;
            }
            continue;
        }
        out.push_back(label[i]);
    }
    return out;
}

std::string MenuShortcut(const std::string& text) {
    const size_t tab = text.find('\t');
    return tab == std::string::npos ? std::string() : text.substr(tab + 1);
}

int MnemonicColumn(const std::string& text) {
    const std::u32string label = DecodeText(text.substr(0, text.find('\t')));
    int column = 0;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == U'&') {
            if (i + 1 < label.size() && label[i + 1] == U'&') {
                ++i;
                ++column;
                continue;
            }
            return i + 1 < label.size() ? column : -1;
        }
        ++column;
    }
    return -1;
}

char32_t MenuMnemonic(const std::string& text) {
    const int col = MnemonicColumn(text);
    if (col < 0) return 0;
    const std::u32string label = DecodeText(MenuLabel(text));
    return static_cast<size_t>(col) < label.size() ? Lower(label[static_cast<size_t>(col)]) : 0;
}

MenuItem* FindMenuCommand(std::vector<MenuItem>& items, int command) {
    for (MenuItem& item : items) {
        if (!item.separator && item.items.empty() && item.command == command) return &item;
        if (MenuItem* sub = FindMenuCommand(item.items, command)) return sub;
    }
    return nullptr;
}

const std::vector<MenuItem>* MenuState::PopupItems(size_t level) const {
    if (!bar || path.empty() || level == 0 || level >= path.size()) return nullptr;
    const std::vector<MenuItem>* items = &(*bar)[path[0]].items;
    for (size_t l = 1; l < level; ++l) items = &(*items)[path[l]].items;
    return items;
}

void MenuState::Open(size_t index) {
    if (!bar || index >= bar->size()) return;
    path.assign({index});
    bar_only = false;
    const auto& items = (*bar)[index].items;
    if (!items.empty()) path.push_back(FirstUsable(items));
}

void MenuState::OpenBar() {
    if (!bar || bar->empty()) return;
    path.assign({0});
    bar_only = true;
}

void MenuState::Close() {
    path.clear();
    bar_only = false;
}

bool MenuState::OpenByLetter(char32_t letter) {
    if (!bar) return false;
    letter = Lower(letter);
    for (size_t i = 0; i < bar->size(); ++i) {
        if (MenuMnemonic((*bar)[i].text) == letter) {
            Open(i);
            return true;
        }
    }
    return false;
}

void MenuState::Step(size_t level, int dir) {
    const std::vector<MenuItem>* items = PopupItems(level);
    if (!items || items->empty()) return;
    const size_t n = items->size();
    size_t i = path[level];
    for (size_t tries = 0; tries < n; ++tries) {
        i = (i + n + dir) % n;
        if (Usable((*items)[i])) break;
    }
    path[level] = i;
    path.resize(level + 1);
}

MenuResult MenuState::Activate(size_t level) {
    const std::vector<MenuItem>* items = PopupItems(level);
    if (!items || path[level] >= items->size()) return {MenuResult::kNone};
    const MenuItem& item = (*items)[path[level]];
    if (item.separator || !item.enabled) return {MenuResult::kNone};
    if (!item.items.empty()) {
        path.resize(level + 1);
        path.push_back(FirstUsable(item.items));
        return {MenuResult::kChanged};
    }
    const int command = item.command;
    Close();
    return {MenuResult::kCommand, command};
}

MenuResult MenuState::HandleKey(const Key& key) {
    if (!IsOpen() || !bar || bar->empty()) return {MenuResult::kUnhandled};
    const size_t bars = bar->size();
    const size_t depth = path.size() - 1;  // open popups
    if (key.code == kKeyEscape || key.code == kKeyF1 + 9) {
        if (depth >= 2 && key.code == kKeyEscape) {
            path.pop_back();
            return {MenuResult::kChanged};
        }
        Close();
        return {MenuResult::kClosed};
    }
    if (bar_only || depth == 0) {
        switch (key.code) {
            case kKeyLeft:
                path[0] = (path[0] + bars - 1) % bars;
                return {MenuResult::kChanged};
            case kKeyRight:
                path[0] = (path[0] + 1) % bars;
                return {MenuResult::kChanged};
            case kKeyDown:
            case kKeyEnter:
                Open(path[0]);
                return {MenuResult::kChanged};
            default:
                break;
        }
        if (key.code < kKeyNone && !key.ctrl) {
            return OpenByLetter(key.code) ? MenuResult{MenuResult::kChanged}
                                          : MenuResult{MenuResult::kNone};
        }
        return {MenuResult::kNone};
    }
    switch (key.code) {
        case kKeyUp:
            Step(depth, -1);
            return {MenuResult::kChanged};
        case kKeyDown:
            Step(depth, +1);
            return {MenuResult::kChanged};
        case kKeyHome:
            path[depth] = FirstUsable(*PopupItems(depth));
            path.resize(depth + 1);
            return {MenuResult::kChanged};
        case kKeyEnd:
            path[depth] = 0;
            Step(depth, -1);
            return {MenuResult::kChanged};
        case kKeyEnter:
            return Activate(depth);
        case kKeyLeft:
            if (depth >= 2) {
                path.pop_back();
                return {MenuResult::kChanged};
            }
            Open((path[0] + bars - 1) % bars);
            return {MenuResult::kChanged};
        case kKeyRight: {
            const std::vector<MenuItem>* items = PopupItems(depth);
            const MenuItem& item = (*items)[path[depth]];
            if (!item.items.empty() && item.enabled) return Activate(depth);
            Open((path[0] + 1) % bars);
            return {MenuResult::kChanged};
        }
        default:
            break;
    }
    if (key.code < kKeyNone && !key.ctrl) {
        if (key.alt && depth == 1) {
            // Alt+letter while a popup is open switches to that bar menu.
            for (size_t i = 0; i < bars; ++i) {
                if (MenuMnemonic((*bar)[i].text) == Lower(key.code)) {
                    Open(i);
                    return {MenuResult::kChanged};
                }
            }
        }
        const std::vector<MenuItem>* items = PopupItems(depth);
        for (size_t i = 0; i < items->size(); ++i) {
            if (Usable((*items)[i]) && MenuMnemonic((*items)[i].text) == Lower(key.code)) {
                path[depth] = i;
                return Activate(depth);
            }
        }
        return {MenuResult::kNone};
    }
    return {MenuResult::kNone};
}

}  // namespace tui
