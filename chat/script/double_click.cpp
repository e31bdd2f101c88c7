#include "chat/script/double_click.h"

#include <string>

#include "chat/core/nick_history.h"
#include "chat/core/windows/window_table.h"
#include "chat/script/input_parser.h"
#include "chat/script/script_state.h"

namespace chat {

void RunClickCommand(WindowId window, std::string_view command, std::string_view parameter) {
    if (command.empty()) return;
    if (parameter.empty()) return parseinput(window, command, kOriginParams, 0);
    // A name with blanks would become several parameters; only its first word is the name.
    parameter = parameter.substr(0, parameter.find(' '));
    std::string line(command);
    line += ":$:";
    line += parameter;
    parseinput(window, line, kOriginParams, 0);
}

void ProcessWindowDoubleClick(WindowId window) {
    const WindowRecord* r = RecordOf(window);
    if (!r) return;
    const ClickCommands& c = Script().clicks;
    if (r->kind == kKindChannel) return RunClickCommand(window, c.channel, {});
    if (r->kind == kKindStatus) return RunClickCommand(window, c.status, {});
    if (r->kind != kKindQuery) return;
    // The message window holds everyone's messages: the click is about who wrote last.
    if (StartsNoCase(r->name, "Message Window")) {
        if (!LastNicks().empty()) RunClickCommand(window, c.query, LastNicks().back().text);
        return;
    }
    std::string_view name = r->name;
    size_t blank = name.rfind(' ');
    if (blank != std::string_view::npos) name.remove_prefix(blank + 1);
    RunClickCommand(window, c.query, name);
}

void ProcessNickListDoubleClick(WindowId active, std::string_view row) {
    while (!row.empty() &&
           (row[0] == '@' || row[0] == '+' || row[0] == '~' || row[0] == '&' || row[0] == '%'))
        row.remove_prefix(1);
    if (row.empty()) return;
    RunClickCommand(active, Script().clicks.nicklist, row);
}

}  // namespace chat
