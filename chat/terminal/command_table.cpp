#include "chat/terminal/command_table.h"

#include "platform/tui/text.h"

namespace chat {

namespace {

tui::MenuItem Item(std::string text, int command) {
    tui::MenuItem m;
    m.text = std::move(text);
    m.command = command;
    return m;
}

tui::MenuItem Popup(std::string text, std::vector<tui::MenuItem> items) {
    tui::MenuItem m;
    m.text = std::move(text);
    m.items = std::move(items);
    return m;
}

tui::MenuItem Checked(std::string text, int command, bool checked) {
    tui::MenuItem m = Item(std::move(text), command);
    m.checked = checked;
    return m;
}

}  // namespace

tui::MenuItem WindowMenu(const WindowMenuFacts& facts) {
    const int kind = facts.kind;
    // The status window, channels, queries, chats and the message window take text and
    // placements; list windows have no text buffer.
    const bool text_window = kind == kKindStatus || kind == kKindChannel || kind == kKindQuery;
    const bool list_window = kind == kKindChannelList || kind == kKindUrlList ||
                             kind == kKindNotifyList || kind == kKindLinksList;
    std::vector<tui::MenuItem> items;
    if (text_window) {
        items.push_back(
            Popup("&Window", {Item("&Reset", kCmdPlaceReset), Item("Re&member", kCmdPlaceRemember),
                              Item("&Forget", kCmdPlaceForget)}));
    }
    if (!list_window) {
        items.push_back(
            Popup("&Buffer", {Item("&Clear", kCmdBufferClear), Item("&Save", kCmdBufferSave)}));
    }
    items.push_back(Item("&Font", kCmdFont));
    if (text_window) items.push_back(Checked("&Logging", kCmdLogging, facts.logging));
    if (kind == kKindChannel || kind == kKindQuery)
        items.push_back(Checked("&Beeping", kCmdBeeping, facts.beeping));
    items.push_back(tui::MenuItem::Separator());
    items.push_back(Item("&Close", kCmdCloseWindow));
    return Popup("&-", std::move(items));
}

std::vector<tui::MenuItem> ChatMenus(const std::vector<WindowSummary>& windows, WindowId active,
                                     const WindowMenuFacts* window, LinkState link) {
    const char* connect = link == LinkState::kConnecting  ? "&Cancel Connect"
                          : link == LinkState::kConnected ? "Dis&connect"
                                                          : "&Connect";
    std::vector<tui::MenuItem> window_items = {Item("&Tile", kCmdTile),
                                               Item("&Cascade", kCmdCascade),
                                               Item("&Arrange Icons", kCmdArrange)};
    if (!windows.empty()) window_items.push_back(tui::MenuItem::Separator());
    for (size_t i = 0; i < windows.size(); ++i) {
        // "&1 Status Window": the digit is the letter for the first nine; a name's own "&"
        // stays literal.
        std::string name;
        for (char c : windows[i].name) {
            if (c == '&') name.push_back('&');
            name.push_back(c);
        }
        std::string text = (i < 9 ? "&" : "") + std::to_string(i + 1) + " " + name;
        tui::MenuItem m = Item(text, kCmdFirstWindow + static_cast<int>(i));
        m.checked = windows[i].id == active;
        window_items.push_back(std::move(m));
    }
    std::vector<tui::MenuItem> bar;
    if (window) bar.push_back(WindowMenu(*window));
    std::vector<tui::MenuItem> frame = {
        Popup("&File", {Item(connect, kCmdConnectToggle), Item("S&etup...\tAlt+E", kCmdSetup),
                        Item("&Options...\tAlt+O", kCmdOptions), tui::MenuItem::Separator(),
                        Item("E&xit", kCmdExit)}),
        Popup(
            "&Tools",
            {Item("&Aliases...\tAlt+A", kCmdAliases), Item("&Popups...\tAlt+P", kCmdPopups),
             Item("&Remote...\tAlt+R", kCmdRemote), Item("Fin&ger...\tAlt+G", kCmdFinger),
             Item("T&imer...\tAlt+I", kCmdTimer), tui::MenuItem::Separator(),
             Item("&Channels Folder...\tAlt+J", kCmdJoin), Item("&URL List\tAlt+U", kCmdUrlWindow),
             Item("&Notify List\tAlt+N", kCmdNotifyWindow)}),
        Popup("&DCC", {Item("&Send...\tAlt+S", kCmdDccSend), Item("&Chat...\tAlt+C", kCmdDccChat),
                       Item("&Options...", kCmdDccOptions)}),
        Popup("&Window", std::move(window_items)),
        Popup("&Help", {Item("&Contents", kCmdHelpContents), Item("&About...", kCmdAbout)}),
    };
    for (tui::MenuItem& m : frame) bar.push_back(std::move(m));
    return bar;
}

int CommandForKey(const tui::Key& key) {
    using namespace tui;
    if (key.alt && !key.ctrl && !key.shift) {
        switch (key.code) {
            case U'e':
                return kCmdSetup;
            case U'o':
                return kCmdOptions;
            case U'l':
                return kCmdListParams;
            case U'a':
                return kCmdAliases;
            case U'p':
                return kCmdPopups;
            case U'r':
                return kCmdRemote;
            case U'g':
                return kCmdFinger;
            case U'i':
                return kCmdTimer;
            case U's':
                return kCmdDccSend;
            case U'c':
                return kCmdDccChat;
            case U'j':
                return kCmdJoin;
            case U'u':
                return kCmdUrlWindow;
            case U'n':
                return kCmdNotifyWindow;
            default:
                return 0;
        }
    }
    if (key.Is(kKeyInsert, false, false, true)) return kCmdPaste;
    if (key.Is(kKeyPageUp)) return kCmdPageUp;
    if (key.Is(kKeyPageDown)) return kCmdPageDown;
    if (key.Is(kKeyUp, false, true)) return kCmdHistoryPrev;
    if (key.Is(kKeyDown, false, true)) return kCmdHistoryNext;
    if (key.Is(kKeyPageUp, false, true)) return kCmdLineUp;
    if (key.Is(kKeyPageDown, false, true)) return kCmdLineDown;
    if (key.Is(kKeyHome, false, true)) return kCmdTop;
    if (key.Is(kKeyEnd, false, true)) return kCmdBottom;
    if (key.Is(kKeyEscape)) return kCmdEscape;
    if (key.Is(kKeyTab)) return kCmdNickCycle;
    return 0;
}

std::string FunctionKeyAlias(const tui::Key& key) {
    if (key.code < tui::kKeyF1 || key.code > tui::kKeyF12 || key.alt) return {};
    const int n = static_cast<int>(key.code - tui::kKeyF1) + 1;
    const char* prefix = key.ctrl ? "/c" : key.shift ? "/s" : "/";
    return std::string(prefix) + "F" + std::to_string(n) + " ";
}

std::vector<std::string> PastedLines(const std::u32string& text, size_t limit) {
    std::vector<std::string> out;
    if (limit == 0) limit = 1;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(U'\n', start);
        if (end == std::u32string::npos) end = text.size();
        for (size_t at = start; at < end; at += limit) {
            out.push_back(tui::EncodeUtf8(text.substr(at, std::min(limit, end - at))));
        }
        start = end + 1;
    }
    return out;
}

}  // namespace chat
