#include "archiver/programs/command_lines.h"

#include <cctype>

namespace programs {

namespace {

bool HasWildcard(const std::string& list) {
    return list.find('*') != std::string::npos;
}

// The target folder with a trailing "\" unless it is a root ("C:" or "C:\" style, two
// characters ending in "\" or with ":" second).
std::string TargetWithSeparator(const std::string& target) {
    bool root = target.size() == 2 && (target[1] == '\\' || target[1] == ':');
    if (root || (!target.empty() && target.back() == '\\')) return target;
    return target + "\\";
}

}  // namespace

const char* ModeLetter(AddMode mode, bool archive_has_rows) {
    if (mode == AddMode::kFreshen && !archive_has_rows) mode = AddMode::kAdd;
    switch (mode) {
        case AddMode::kAdd:
            return "a";
        case AddMode::kFreshen:
            return "f";
        case AddMode::kUpdate:
            return "u";
        case AddMode::kMove:
            return "m";
    }
    return "a";
}

std::string QuotedArchive(const std::string& archive) {
    if (archive.find(' ') == std::string::npos) return archive;
    return "\"" + archive + "\"";
}

std::string ArjAddCommand(const CommandInputs& in) {
    std::string c = in.program + " " + ModeLetter(in.mode, in.archive_has_rows);
    if (in.file_list.find('@') != std::string::npos) c += " -!@";
    if (!in.temp_folder.empty()) c += " -w" + in.temp_folder;
    if (!in.password.empty()) c += " -g" + in.password;
    c += " -i";
    if (in.recurse) {
        c += "r";
        if (!in.full_paths) c += "e1";
    } else if (!in.full_paths) {
        c += "e";
    }
    c += in.best_compression ? "jm1 " : "m3 ";
    if (in.removable) c += "-vva ";
    return c + QuotedArchive(in.archive) + " " + in.file_list;
}

std::string ArjDeleteCommand(const CommandInputs& in) {
    std::string c = in.program + " d -i ";
    if (!HasWildcard(in.file_list)) c += "-p ";
    if (!in.temp_folder.empty()) c += "-w" + in.temp_folder + " ";
    if (in.file_list.find('@') != std::string::npos) c += "-!@ ";
    return c + QuotedArchive(in.archive) + " " + in.file_list;
}

std::string ArjExtractCommand(const CommandInputs& in) {
    std::string c = in.program + (in.folder_names ? " x " : " e ") + "-ijyc";
    if (in.overwrite) c += "o";
    if (!HasWildcard(in.file_list)) c += " -p";
    if (!in.file_list.empty() && in.file_list[0] == '@') c += " -!@";
    if (!in.password.empty()) c += " -g" + in.password;
    c += " ";
    if (in.removable) c += "-v ";
    return c + QuotedArchive(in.archive) + " " + TargetWithSeparator(in.target) + " " +
           in.file_list;
}

std::string ArjSelfExtractCommand(const CommandInputs& in) {
    return in.program + " y -je1 " + QuotedArchive(in.archive);
}

std::string LhaAddCommand(const CommandInputs& in) {
    std::string c = in.program + " " + ModeLetter(in.mode, in.archive_has_rows) + " /m1 /n1 ";
    if (in.recurse) c += "/r1x1 ";
    return c + QuotedArchive(in.archive) + " " + in.file_list;
}

std::string LhaDeleteCommand(const CommandInputs& in) {
    std::string c = in.program + " d /m1 ";
    if (!HasWildcard(in.file_list)) c += "/p ";
    return c + QuotedArchive(in.archive) + " " + in.file_list;
}

std::string LhaExtractCommand(const CommandInputs& in) {
    std::string c = in.program + " e ";
    if (in.folder_names) c += "/x1 ";
    c += "/c1 ";
    if (in.overwrite) c += "/m1 ";
    c += "/n1 ";
    if (!HasWildcard(in.file_list)) c += "/p ";
    return c + QuotedArchive(in.archive) + " " + TargetWithSeparator(in.target) + " " +
           in.file_list;
}

std::string LhaSelfExtractCommand(const CommandInputs& in) {
    return in.program + " s /M1 " + (in.any_folder ? "/x1 " : "") + QuotedArchive(in.archive);
}

std::string ArcExtractCommand(const CommandInputs& in) {
    std::string base = ProgramBaseName(in.program);
    std::string c = in.program;
    if (base == "arc") {
        c += " x";
        if (in.overwrite) c += "o";
    } else if ((base == "pkxarc" || base == "pkunpak") && in.overwrite) {
        c += " -r";
    }
    c += " " + QuotedArchive(in.archive);
    if (!in.file_list.empty()) c += " " + in.file_list;
    if ((base == "arce" || base == "arc-e") && in.overwrite) c += " /r";
    return c;
}

std::string ProgramBaseName(const std::string& program) {
    size_t cut = program.find_last_of("/\\:");
    std::string base = program.substr(cut == std::string::npos ? 0 : cut + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return base;
}

}  // namespace programs
