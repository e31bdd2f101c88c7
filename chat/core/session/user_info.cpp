#include "chat/core/session/user_info.h"

#include "chat/core/frontend.h"

namespace chat {
namespace {

std::string Or(const std::string& value, const char* missing) {
    return value.empty() ? std::string(missing) : value;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> UserInfoFields(const WhoisRecord& w) {
    std::vector<std::pair<std::string, std::string>> fields;
    // The operator line doubles as the result line: "No such user" or a CTCP reply.
    fields.emplace_back("Nick:", w.oper.empty() ? w.nick : w.nick + " (" + w.oper + ")");
    fields.emplace_back("Name:", Or(w.realname, "(no name)"));
    fields.emplace_back("Machine:", Or(w.address, "(unknown)"));
    fields.emplace_back("Server:", Or(w.server, "(unknown)"));
    fields.emplace_back("Away:", Or(w.away, "(nope)"));
    fields.emplace_back("Idle:",
                        w.idle.empty() ? std::string("(unavailable)") : w.idle + " sec(s)");
    fields.emplace_back("Chans:", Or(w.channels, "(none)"));
    return fields;
}

void ShowUserInfo() {
    const WhoisRecord& w = Session().uwho;
    Frontend& fe = CurrentFrontend();
    if (fe.show_user_info) fe.show_user_info(w.nick, UserInfoFields(w));
}

}  // namespace chat
