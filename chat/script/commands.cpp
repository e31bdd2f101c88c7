#include "chat/script/commands.h"

#include <cctype>
#include <map>

#include "chat/core/options.h"
#include "chat/core/windows/line_list.h"
#include "chat/core/windows/window_print.h"
#include "chat/script/input_parser.h"
#include "chat/script/messaging.h"
#include "chat/script/script_state.h"

namespace chat {
namespace {

struct CommandEntry {
    const char* name;
    int group;  ///< 1 runs at any time, 2 needs a server connection
    int (*handler)(WindowId, const Args&, bool);
};

// Commands whose handler a later layer installs have no handler here.
constexpr CommandEntry kCommands[] = {
    {"/ACTION", 1, dome},         {"/ALIAS", 1, nullptr},     {"/AME", 2, doame},
    {"/AMSG", 2, doamsg},         {"/AUSER", 1, nullptr},     {"/AUTO", 1, dotoggle},
    {"/AWAY", 2, doaway},         {"/BAN", 2, doban},         {"/BEEP", 1, nullptr},
    {"/CHANNEL", 2, dochannel},   {"/CLEAR", 1, doclear},     {"/CLEARALL", 1, doclearall},
    {"/CLOSEMSG", 2, doclosemsg}, {"/COMMANDS", 1, dotoggle}, {"/CREQ", 1, dorequests},
    {"/CTCP", 2, doctcp},         {"/DCC", 2, dodcc},         {"/DDE", 1, nullptr},
    {"/DDESERVER", 1, nullptr},   {"/DEBUG", 1, dotoggle},    {"/DEC", 1, doinc},
    {"/DESCRIBE", 2, dodescribe}, {"/DISABLE", 1, nullptr},   {"/DISCONNECT", 1, dodisconnect},
    {"/DLEVEL", 1, dodlevel},     {"/DNS", 1, dodns},         {"/ECHO", 1, doecho},
    {"/ENABLE", 1, nullptr},      {"/EVENTS", 1, dotoggle},   {"/EXIT", 1, doexit},
    {"/FINGER", 1, nullptr},      {"/FLOOD", 2, doflood},     {"/FLUSH", 1, nullptr},
    {"/FONT", 1, nullptr},        {"/FSEND", 1, dotoggle},    {"/FSERVE", 2, nullptr},
    {"/GROUPS", 1, nullptr},      {"/GUSER", 1, nullptr},     {"/HELP", 1, dohelp},
    {"/IGNORE", 1, dolistswitch}, {"/INC", 1, doinc},         {"/JOIN", 2, dojoincommand},
    {"/LEAVE", 2, dopart},        {"/LIST", 2, dolist},       {"/LOAD", 1, doloadsave},
    {"/LOG", 1, dolog},           {"/ME", 1, dome},           {"/MSG", 2, domsg},
    {"/NICK", 1, donick},         {"/NOTICE", 2, donotice},   {"/NOTIFY", 1, dolistswitch},
    {"/OMSG", 2, doomsg},         {"/ONOTICE", 2, doomsg},    {"/PART", 2, dopart},
    {"/PARTALL", 2, dopartall},   {"/PLAY", 2, nullptr},      {"/POP", 2, nullptr},
    {"/QUERY", 2, doquery},       {"/QUIT", 2, doquit},       {"/QUOTE", 2, doraw},
    {"/RAW", 2, doraw},           {"/REMOTE", 1, dotoggle},   {"/REMOVE", 1, doremove},
    {"/RLEVEL", 1, nullptr},      {"/RUSER", 1, nullptr},     {"/RUN", 1, dorun},
    {"/SAVE", 1, doloadsave},     {"/SAY", 2, dosay},         {"/SERVER", 1, doserver},
    {"/SET", 1, doset},           {"/SOUND", 1, nullptr},     {"/SPEAK", 1, nullptr},
    {"/SREQ", 1, dorequests},     {"/TIMER", 2, nullptr},     {"/TIMESTAMP", 1, dotoggle},
    {"/ULIST", 1, nullptr},       {"/UNSET", 1, dounset},     {"/UNSETALL", 1, dounsetall},
    {"/URL", 1, dolistswitch},    {"/UWHO", 1, douwho},       {"/WAVPLAY", 1, nullptr},
    {"/WRITE", 1, nullptr},
};

std::map<std::string, CommandHandler>& Installed() {
    static std::map<std::string, CommandHandler> handlers;
    return handlers;
}

std::string UpperWord(std::string_view word) {
    std::string out(word);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

const CommandEntry* FindCommand(std::string_view word) {
    std::string upper = UpperWord(word);
    // Every word that begins with "/timer" is a timer command ("/timer1", "/timeroff").
    if (upper.starts_with("/TIMER")) upper = "/TIMER";
    for (const CommandEntry& e : kCommands)
        if (upper == e.name) return &e;
    return nullptr;
}

// Commands that reach files, programs or the program's life. Text another user wrote reaches
// them only when the user allowed it, and then names one plain file of the folder the
// command works in.
bool RemoteRefused(const CommandEntry& e, const Args& args) {
    static const char* const kGuarded[] = {"/RUN",  "/REMOVE", "/EXIT",     "/LOAD",
                                           "/SAVE", "/DDE",    "/DDESERVER"};
    bool guarded = false;
    for (const char* name : kGuarded) guarded = guarded || std::string_view(e.name) == name;
    if (!guarded) return false;
    std::string name(e.name);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool refuse = !Options().remote_files;
    if (!refuse && (name == "/load" || name == "/save" || name == "/remove")) {
        std::string file = JoinFrom(args, name == "/remove" ? 1 : 2);
        if (!file.empty() && file.front() == '"') file.erase(0, 1);
        if (!file.empty() && file.back() == '"') file.pop_back();
        refuse = file.find_first_of("/\\") != std::string::npos || file == "." || file == ".." ||
                 file.find('\0') != std::string::npos;
    }
    if (refuse) Print(StatusWin(), "*** Remote command refused: " + name, 1);
    return refuse;
}

}  // namespace

bool IsBuiltinCommand(std::string_view word) {
    return FindCommand(word) != nullptr;
}

void InstallCommand(std::string_view name, CommandHandler handler) {
    Installed()[UpperWord(name)] = std::move(handler);
}

int RunCommand(WindowId window, const Args& args, bool remote) {
    if (args.empty()) return 0;
    const CommandEntry* e = FindCommand(args[0]);
    if ((!e || e->group == 2) && !ScriptConnected()) {
        Print(StatusWin(), "*** Not connected to server", 1);
        return 0;
    }
    if (!e) return donormalcommand(args, remote);
    if (remote && RemoteRefused(*e, args)) return 0;
    auto installed = Installed().find(e->name);
    if (installed != Installed().end() && installed->second)
        return installed->second(window, args, remote);
    if (e->handler) return e->handler(window, args, remote);
    Print(window, "*** " + std::string(e->name + 1) + " is not available", 1);
    return 0;
}

int donormalcommand(const Args& args, bool remote) {
    std::string command = args[0];
    if (!command.empty() && command[0] == '/') command.erase(0, 1);
    if (command.empty()) {
        Print(StatusWin(), "*** No command specified", 1);
        return 0;
    }
    // The argument that takes the rest of the line after a ":".
    static const std::pair<const char*, size_t> kColon[] = {
        {"CONNECT", 3}, {"KICK", 3},    {"SUMMON", 3}, {"INVITE", 2}, {"KILL", 2},
        {"LUSERS", 2},  {"PRIVMSG", 2}, {"SQUIT", 2},  {"TOPIC", 2},  {"TRACE", 2},
        {"USER", 4},    {"MODE", 6},    {"OPER", 9},   {"STATS", 30},
    };
    size_t colon = 0;
    for (const auto& [name, position] : kColon)
        if (EqualNoCase(command, name)) colon = position;
    std::string line = UpperWord(command);
    for (size_t i = 1; i < args.size() && !args[i].empty(); ++i) {
        // An argument that already carries its ":" (typed in the protocol's own form) keeps
        // just that one, so the text arrives as typed.
        line += i == colon && args[i][0] != ':' ? " :" : " ";
        line += args[i];
    }
    SendLine(line, remote);
    return 1;
}

}  // namespace chat
