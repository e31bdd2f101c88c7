#include "chat/core/command_line.h"

#include <cstddef>

#include "chat/core/options.h"
#include "chat/core/windows/line_list.h"
#include "platform/xdg_places.h"

namespace chat {
namespace {

void AddChannels(CommandLine& cl, const std::string& list) {
    if (list.empty()) return;
    if (!cl.channels.empty()) cl.channels += ",";
    cl.channels += list;
    cl.connect = true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 < args.size()) {
                out = args[++i];
            } else {
                cl.error = "option " + a + " needs a value";
            }
        };
        if (a == "--dde") {
            cl.dde = true;
            cl.dde_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--version") {
            cl.version = true;
        } else if (a == "--headless") {
            cl.headless = true;
        } else if (EqualNoCase(a, "-d")) {
        } else if (!a.empty() && (a[0] == '#' || a[0] == '&')) {
            AddChannels(cl, a);
        } else if (EqualNoCase(a, "-n")) {
            std::string v;
            value(v);
            size_t comma = v.find(',');
            cl.nick = v.substr(0, comma);
            if (comma != std::string::npos) cl.anick = v.substr(comma + 1);
            cl.nick = cl.nick.substr(0, 100);
            cl.anick = cl.anick.substr(0, 100);
        } else if (EqualNoCase(a, "-s")) {
            value(cl.server);
            cl.connect = cl.connect || !cl.server.empty();
        } else if (EqualNoCase(a, "-j")) {
            std::string v;
            value(v);
            AddChannels(cl, v);
        } else if (EqualNoCase(a, "-i")) {
            value(cl.settings);
        } else if (!a.empty()) {
            cl.settings = a;
        }
    }
    return cl;
}

std::string UsageText() {
    return "Usage: vesk32 [--headless] [-i SETTINGS] [-n NICK[,ALTERNATE]] [-s HOST[:PORT]|GROUP]\n"
           "              [-j CHANNELS] [#CHANNEL ...]\n"
           "\n"
           "  -s HOST[:PORT]  connect to this server at start-up (port 6667 when not given),\n"
           "                  or to the next server of a server group\n"
           "  -n NICK[,ALT]   nickname and alternate nickname for this run\n"
           "  -j CHANNELS     channels to join once connected (also any word beginning with #)\n"
           "  -i SETTINGS     settings file (default $XDG_CONFIG_HOME/vesk32/vesk.ini; \".ini\" "
           "is\n"
           "                  added to a name without a dot)\n"
           "  --headless      no screen: read lines from standard input, write window lines to\n"
           "                  standard output (automatic when standard input is not a terminal)\n"
           "  --version       print the version\n"
           "  --dde SERVICE TOPIC [ITEM | -p TEXT]\n"
           "                  ask a running vesk32's DDE service for TOPIC (and ITEM) and print\n"
           "                  the answer, or with -p send TEXT to it (topic COMMAND runs it)\n"
           "\n"
           "Headless mode:\n"
           "  Each input line is typed into the active window and entered. A line\n"
           "  \"@@NAME\" makes window NAME the target of the next input line, and\n"
           "  \"@@NAME<TAB>TEXT\" types TEXT into window NAME at once (\"@@@\" at the start of\n"
           "  a line types a literal \"@@\"). Every line printed in any window is written as\n"
           "  \"WINDOW<TAB>TEXT\" with formatting and control codes removed. End of input sends\n"
           "  QUIT and exits.\n"
           "\n"
           "Files (XDG places, as this environment gives them):\n"
           "  settings        " +
           SettingsPathFor("") +
           "\n"
           "  logs            " +
           DefaultLogFolder() +
           "\n"
           "                  (\"logdir\" in section [Dirs] of the settings overrides)\n"
           "  received files  " +
           platform::DownloadFolder() +
           "\n"
           "                  (\"getdir\" in section [Dirs] overrides)\n"
           "  Nothing is moved from older places: logs kept beside the settings stay there.\n";
}

}  // namespace chat
