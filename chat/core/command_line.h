// The chat client's command line.
#pragma once

#include <string>
#include <vector>

namespace chat {

/// What the command line asks for.
struct CommandLine {
    bool help = false;
    bool version = false;
    bool headless = false;
    std::string settings;     ///< settings file as given ("-i PATH" or a bare word)
    std::string nick, anick;  ///< "-n nick[,alternate]"
    std::string server;       ///< "-s host[:port]" or a server group
    std::string channels;     ///< "-j" and words beginning with "#" or "&", joined by ","
    bool connect = false;     ///< a server or a channel was named: connect at start-up
    std::string error;        ///< a switch missing its value
    /// "--dde SERVICE TOPIC [ITEM | -p TEXT]": one DDE transaction with a running client;
    /// the words after the switch, nothing else is read.
    bool dde = false;
    std::vector<std::string> dde_args;
};

/// Reads the arguments (argv[1..]); switches ignore case.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
/// The --help text.
std::string UsageText();

}  // namespace chat
