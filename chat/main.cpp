// vesk32: the IRC client.
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "chat/core/command_line.h"
#include "chat/core/frame.h"
#include "chat/core/frontend.h"
#include "chat/core/headless_frontend.h"
#include "chat/dcc/dcc_state.h"
#include "chat/dde/dde_client.h"
#include "chat/dde/dde_server.h"
#include "chat/help/help_file.h"
#include "chat/lists/list_commands.h"
#include "chat/lists/url_catcher.h"
#include "chat/net/finger.h"
#include "chat/net/net_layer.h"
#include "chat/script/commands_files.h"
#include "chat/script/double_click.h"
#include "chat/script/frontend_hooks.h"
#include "chat/script/input_parser.h"
#include "chat/script/popup_menus.h"
#include "chat/script/script_editors.h"
#include "chat/script/script_state.h"
#include "chat/terminal/channel_dialog.h"
#include "chat/terminal/dcc_dialogs.h"
#include "chat/terminal/finger_dialog.h"
#include "chat/terminal/list_dialogs.h"
#include "chat/terminal/popup_dialog.h"
#include "chat/terminal/script_editor.h"
#include "chat/terminal/terminal_frontend.h"
#include "chat/terminal/timer_dialogs.h"
#include "chat/terminal/url_dialog.h"
#include "platform/event_loop.h"

namespace {

std::vector<tui::MenuItem> MenuItemsOf(const std::vector<chat::PopupEntry>& entries) {
    std::vector<tui::MenuItem> items;
    for (const chat::PopupEntry& e : entries) {
        if (e.separator) {
            items.push_back(tui::MenuItem::Separator());
            continue;
        }
        tui::MenuItem item;
        item.text = e.text;
        item.command = e.id;
        item.items = MenuItemsOf(e.items);
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<chat::PopupChoice> ChoiceOf(const std::optional<chat::PopupMenu>& menu) {
    if (!menu) return std::nullopt;
    return chat::PopupChoice{menu->title, MenuItemsOf(menu->items)};
}

// What the terminal hands to the command language: function-key aliases, double-clicks and
// the user's popup menus.
chat::TerminalHooks ProgramTerminalHooks() {
    chat::TerminalHooks hooks;
    hooks.function_key = chat::RunFunctionKeyAlias;
    hooks.text_double_click = chat::ProcessWindowDoubleClick;
    hooks.nick_double_click = [](chat::WindowId window, const std::string& row) {
        chat::ProcessNickListDoubleClick(window, row);
    };
    hooks.window_popup = [](chat::WindowId window, bool nick_list) {
        std::optional<chat::PopupMenu> menu = chat::PopupForWindow(window, nick_list);
        return ChoiceOf(menu ? menu : chat::UrlWindowPopup(window));
    };
    hooks.bar_popup = [] { return ChoiceOf(chat::MakePopup(chat::PopupKind::kBar)); };
    hooks.popup_command = [](chat::WindowId window, int id, bool nick_list) {
        if (!chat::ProcessUrlPopup(id) && !chat::ProcessFingerMenu(id))
            chat::ProcessPopupMenu(window, id, nick_list);
    };
    hooks.finger_menu = [] {
        std::vector<tui::MenuItem> items;
        for (const chat::FingerMenuItem& f : chat::MakeFingerMenu()) {
            tui::MenuItem item;
            item.text = f.text;
            item.command = f.command;
            items.push_back(std::move(item));
        }
        return items;
    };
    return hooks;
}

// The questions about DCC offers that the terminal asks with dialogs.
chat::dcc::DccDialogs TerminalDccDialogs() {
    chat::dcc::DccDialogs d;
    d.get = [](const chat::dcc::GetSlot& g, const std::function<bool()>& waiting) {
        return chat::AskDccGet(g.nick, g.name, g.size, chat::dcc::GetFolder(), waiting);
    };
    d.existing = chat::AskExistingFile;
    d.chat = [](const chat::dcc::ChatSlot& c, const std::function<bool()>& waiting) {
        return chat::AskDccChat(c.nick, c.address, waiting);
    };
    d.quit = [](const std::string& title, const std::string& text) {
        const chat::Frontend& fe = chat::CurrentFrontend();
        return fe.ask && fe.ask(title, text);
    };
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    chat::CommandLine cl = chat::ParseCommandLine(args);
    // Another program's (or a script's) one transaction with a running client.
    if (cl.dde) return chat::RunDdeCommandLine(cl.dde_args);
    if (cl.help) {
        std::fputs(chat::UsageText().c_str(), stdout);
        return 0;
    }
    if (cl.version) {
        std::puts("vesk32 0.1");
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "vesk32: %s\n%s", cl.error.c_str(), chat::UsageText().c_str());
        return 2;
    }
    // Display widths need a UTF-8 character type whatever the user's locale says.
    if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::signal(SIGPIPE, SIG_IGN);
    chat::InstallScript();
    chat::InstallNet();
    chat::InstallDde();
    chat::InstallFileCommands();
    chat::InstallLists();
    chat::dcc::InstallDcc();
    const std::string help_dir = chat::HelpFolder();
    chat::Frame().help_dir = help_dir;

    // On a terminal the full-screen front end runs; it declines (-1) when standard input or
    // output is not a terminal, and the line interface takes over.
    if (!cl.headless) {
        chat::InstallFrontendHooks(help_dir, true);
        chat::ChannelsFolderDialog() = chat::RunFolderDialog;
        chat::InstallTimerDialogs();
        chat::ChannelInfo().show = chat::RunChannelCentral;
        chat::ListOptionsDialog() = chat::RunListOptionsDialog;
        chat::FingerDialog() = chat::RunFingerAddressDialog;
        chat::PopupEditorDialog() = chat::RunPopupDialog;
        chat::UrlEntryDialog() = chat::RunUrlEntryDialog;
        chat::Script().hooks.edit_lines = [](const std::string& title,
                                             const std::vector<std::string>& lines) {
            return chat::EditScriptText(title, lines, {0, chat::kMaxListLine});
        };
        chat::dcc::Dcc().dialogs = TerminalDccDialogs();
        int code = chat::RunTerminalFrontend(cl, ProgramTerminalHooks());
        if (code >= 0) {
            chat::CleanupDDE();
            return code;
        }
    }
    // Without the terminal, offers wait for /dcc get and /dcc chat, and no dialog of the
    // terminal's is asked for (the channels folder on connect, a URL entry).
    chat::dcc::Dcc().dialogs = {};
    chat::ChannelsFolderDialog() = {};
    chat::UrlEntryDialog() = {};
    chat::Frontend headless = chat::MakeHeadlessFrontend();
    headless.show_help = chat::PrintHelp;
    chat::InstallFrontend(std::move(headless));
    chat::InstallFrontendHooks(help_dir, false);
    if (!chat::StartChat(cl)) {
        std::fputs("vesk32: unable to start\n", stderr);
        return 1;
    }
    chat::StartHeadlessInput();
    int code = platform::RunMessageLoop();
    chat::CleanupDDE();
    return code;
}
