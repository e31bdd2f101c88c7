#include "archiver/shell/command_request.h"

#include <cctype>
#include <string_view>

#include "archiver/engine/unzip/output_path.h"

namespace shell {

const char* const kParameterValidationError = "Borvan parameter validation error";

std::string ValidationErrorText(const std::string& why) {
    return why.empty() ? kParameterValidationError : kParameterValidationError + (": " + why);
}

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// A word of the command language: "-" and one letter.
bool IsDashLetter(std::string_view word) {
    return word.size() == 2 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// ".zip" added to an archive path whose last component has no extension, unless a file of
// that very name exists; a path that ends in a double quote gets it inside the quote.
std::string WithZipExtension(std::string path) {
    bool quoted = path.size() > 1 && path.back() == '"';
    if (quoted) path.pop_back();
    path = engine::WithZipExtension(path);
    if (quoted) path += '"';
    return path;
}

int CompressionOf(char letter) {
    switch (Lower(letter)) {
        case 'x':
            return kCompressMaximum;
        case 'n':
            return kCompressNormal;
        case 'f':
            return kCompressFast;
        case 's':
            return kCompressSuperFast;
        case '0':
            return kCompressNone;
        default:
            return -1;
    }
}

// Reads the command language from `words` (the first is "-" + command letter). False on a
// validation error, with `why` naming what was wrong.
bool ParseCommandLanguage(const std::vector<std::string>& words, CommandRequest& r,
                          std::string& why) {
    auto not_a_command = [&] {
        why = "\"" + words[0] + "\" is not a command (-a, -f, -u, -m or -e)";
        return false;
    };
    if (!IsDashLetter(words[0])) return not_a_command();
    switch (Lower(words[0][1])) {
        case 'a':
            r.action = CommandAction::kAdd;
            break;
        case 'f':
            r.action = CommandAction::kFreshen;
            break;
        case 'u':
            r.action = CommandAction::kUpdate;
            break;
        case 'm':
            r.action = CommandAction::kMove;
            break;
        case 'e':
            r.action = CommandAction::kExtract;
            break;
        default:
            return not_a_command();
    }
    bool extract = r.action == CommandAction::kExtract;
    size_t i = 1;
    for (; i < words.size() && !words[i].empty() && words[i][0] == '-'; ++i) {
        const std::string& w = words[i];
        char letter = w.size() >= 2 ? Lower(w[1]) : 0;
        if (extract && w.size() == 2 && letter == 'o') {
            r.overwrite = true;
        } else if (extract && w.size() == 2 && letter == 'j') {
            r.no_folder_names = true;
        } else if (!extract && w.size() == 2 && letter == 'r') {
            r.recurse = true;
        } else if (!extract && w == "--follow-links") {
            r.follow_links = true;
        } else if (!extract && w.size() == 2 && letter == 'p') {
            r.save_folder_info = true;
        } else if (!extract && w.size() == 3 && letter == 'e' && CompressionOf(w[2]) >= 0) {
            r.compression = CompressionOf(w[2]);
        } else {
            why = "\"" + w + "\" is not an option of " + words[0];
            return false;
        }
    }
    if (i >= words.size() || words[i].empty()) {
        why = "no archive named after " + words[0];
        return false;
    }
    r.archive = WithZipExtension(words[i++]);
    r.names = {r.archive};
    if (extract) {
        r.extract_without_dialog = true;
        r.extract_folder = i < words.size() && !words[i].empty() ? words[i] : ".";
    } else {
        r.file_names.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
        if (r.file_names.empty()) r.file_names.push_back("*.*");
    }
    r.no_handover = true;
    r.wizard = false;
    r.no_wizard = true;
    return true;
}

}  // namespace

CommandRequest ParseCommandLine(const std::vector<std::string>& args) {
    CommandRequest r;
    std::vector<std::string> words;
    bool after_end = false;
    for (const std::string& a : args) {
        if (!after_end && a == "--") {
            after_end = true;
            continue;
        }
        // Words after "--" are names; mark them so no switch matches them.
        words.push_back(after_end ? std::string(1, '\0') + a : a);
    }
    size_t i = 0;
    auto is = [&](std::string_view sw) {
        if (i < words.size() && EqualsIgnoringCase(words[i], sw)) {
            ++i;
            return true;
        }
        return false;
    };
    auto rest_as_names = [&] {
        for (; i < words.size(); ++i) {
            std::string w = words[i];
            if (!w.empty() && w[0] == '\0') w.erase(0, 1);
            r.names.push_back(w);
        }
        if (!r.names.empty()) r.archive = r.names.front();
    };

    if (is("/inichange")) {
        r.inichange = true;
        return r;
    }
    if (is("/nobmp")) r.no_bitmaps = true;
    if (is("/wizard")) r.wizard = true;
    if (is("/nowizard")) {
        r.wizard = false;
        r.no_wizard = true;
    }
    if (is("-%")) r.operation_first = true;
    if (is("-*")) r.operation_second = true;
    if (is("-min")) r.minimised = true;
    if (is("/extractx")) {
        r.no_handover = true;
        r.extract_without_dialog = true;
        if (i < words.size()) {
            std::string folder = words[i++];
            if (!folder.empty() && folder[0] == '\0') folder.erase(0, 1);
            if (!folder.empty() && folder.front() == '"') {
                size_t close = folder.find('"', 1);
                if (close == std::string::npos) {  // an unclosed quote ends the line here
                    r.extract_folder = folder.substr(1);
                    r.wizard = false;
                    r.no_wizard = true;
                    return r;
                }
                folder = folder.substr(1, close - 1);
            }
            r.extract_folder = folder;
        }
    } else if (is("/extract")) {
        r.no_handover = true;
        r.extract_dialog = true;
    }
    if (is("/addx")) {
        if (i < words.size()) {
            r.drop_add_name = words[i];
            if (!r.drop_add_name.empty() && r.drop_add_name[0] == '\0') r.drop_add_name.erase(0, 1);
        }
        r.operation_first = true;
        r.wizard = false;
        r.no_wizard = true;
        return r;
    }
    if (i < words.size() && !words[i].empty() && words[i][0] == '-') {
        std::vector<std::string> command(words.begin() + static_cast<std::ptrdiff_t>(i),
                                         words.end());
        for (std::string& w : command)
            if (!w.empty() && w[0] == '\0') w.erase(0, 1);
        CommandRequest parsed = r;
        std::string why;
        if (!ParseCommandLanguage(command, parsed, why)) {
            CommandRequest empty;
            empty.error = ValidationErrorText(why);
            return empty;
        }
        return parsed;
    }
    if (is("/fmc")) {
        r.file_manager_config = true;
        return r;
    }
    if (is("/fmx")) {
        r.from_file_manager = true;
        r.no_handover = true;
        r.wizard = false;
        r.no_wizard = true;
    } else if (is("/fm")) {
        r.from_file_manager = true;
    }
    if (is("/cd")) r.change_to_archive_folder = true;
    if (is("/vscan")) {
        r.virus_scan = true;
        r.no_handover = true;
    }
    if (is("/noicon")) r.no_icon = true;
    if (i + 1 == words.size()) {
        static constexpr std::string_view kSetup[] = {"/install", "/installs", "/installd",
                                                      "/installr", "/cleaninstall"};
        for (std::string_view mode : kSetup) {
            if (is(mode)) {
                r.setup_mode = std::string(mode.substr(1));
                if (mode == "/installd") r.debug_log = true;
                return r;
            }
        }
        if (is("/DEBUG")) {
            r.debug_log = true;
            return r;
        }
        if (is("/DEBUGX")) {
            r.debug_log = true;
            return r;
        }
    }
    if (is("/NI")) r.no_handover = true;
    if (r.operation_first || r.operation_second) {
        r.wizard = false;
        r.no_wizard = true;
    }
    rest_as_names();
    return r;
}

bool StartsInWizard(const CommandRequest& request, int wizard_setting) {
    if (!request.error.empty() || request.no_wizard) return false;
    if (request.extract_dialog || request.extract_without_dialog || request.virus_scan ||
        request.action != CommandAction::kNone || !request.setup_mode.empty() ||
        request.file_manager_config || request.inichange)
        return false;
    return request.wizard || wizard_setting == 1;
}

bool MayHandOver(const CommandRequest& request) {
    // A line that did not parse is said so here, and ends with its own status.
    return request.error.empty() && !request.no_handover && !request.inichange &&
           !request.file_manager_config && request.setup_mode.empty();
}

FrontEnd ChooseFrontEnd(const std::vector<std::string>& args, bool stdin_tty, bool stdout_tty) {
    bool headless_option = false;
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--headless" || a == "-l" || a == "-t" || a == "-d" || a == "--yes" ||
            a == "--json" || a == "--progress" || a == "--no-progress" || a == "--install" ||
            a == "--uninstall" || a == "--make-sfx" || a.rfind("--sort=", 0) == 0 || a.rfind("--password=", 0) == 0 ||
            a.rfind("--encrypt=", 0) == 0 || a.rfind("--mail=", 0) == 0)
            headless_option = true;
    }
    if (headless_option) return FrontEnd::kHeadless;
    if (!stdin_tty || !stdout_tty) return args.empty() ? FrontEnd::kUsage : FrontEnd::kHeadless;
    return FrontEnd::kManager;
}

}  // namespace shell
