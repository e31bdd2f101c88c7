#include "archiver/programs/virus_scan.h"

#include <unistd.h>

#include <cstdlib>

#include "archiver/programs/command_lines.h"
#include "archiver/programs/private_folder.h"
#include "archiver/programs/runner.h"

namespace programs {

namespace {

bool IsFolderOnlyScanner(const std::string& base) {
    return base == "msav" || base == "cpav" || base == "wncpav" || base == "wnapvir";
}

// A new empty file "BVS..." in the temporary folder; empty when it cannot be made.
std::string MakeTempFile(const std::string& contents) {
    const char* t = std::getenv("TMPDIR");
    std::string path = std::string(t && *t ? t : "/tmp") + "/BVSXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) return {};
    bool ok = write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    close(fd);
    if (!ok) {
        unlink(path.c_str());
        return {};
    }
    return path;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

// The output's lines, each without the scan folder in front of the paths it names, cut to a
// readable length; at most `most` of those that `keep` accepts, the last ones when more.
std::vector<std::string> PickLines(const std::string& output, const std::string& folder,
                                   bool (*keep)(const std::string&), size_t most) {
    std::vector<std::string> picked;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty() || !keep(line)) continue;
        for (size_t at; !folder.empty() && (at = line.find(folder + "/")) != std::string::npos;)
            line.erase(at, folder.size() + 1);
        if (line.size() > 300) line = line.substr(0, 300) + "...";
        picked.push_back(line);
    }
    if (picked.size() > most) picked.erase(picked.begin(), picked.end() - static_cast<long>(most));
    return picked;
}

bool IsFinding(const std::string& line) {
    return line.size() > 6 && line.compare(line.size() - 6, 6, " FOUND") == 0;
}

bool IsErrorLine(const std::string& line) {
    for (const char* mark : {"rror", "ERROR", "WARNING", "annot", "No such"})
        if (line.find(mark) != std::string::npos) return true;
    return false;
}

bool AnyLine(const std::string&) {
    return true;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += "\n" + l;
    return text;
}

}  // namespace

std::string ScanResultMessage(int exit_code, int signal, const std::string& output,
                              const std::string& folder, bool& completed) {
    // clamscan's summary: a scan with no signatures loaded looked at nothing.
    bool no_signatures = output.find("Known viruses: 0\n") != std::string::npos;
    completed = signal == 0 && (exit_code == 0 || exit_code == 1) && !no_signatures;
    if (!completed) {
        std::vector<std::string> reason = PickLines(output, folder, IsErrorLine, 5);
        if (reason.empty()) reason = PickLines(output, folder, AnyLine, 3);
        std::string why = signal != 0 ? "the scanner ended by signal " + std::to_string(signal)
                          : no_signatures
                              ? "the scanner loaded no virus signatures"
                              : "the scanner ended with exit code " + std::to_string(exit_code);
        return std::string(kScanDidNotRun) + "\n" + why + Joined(reason);
    }
    if (exit_code == 0) return kScanComplete;
    std::vector<std::string> found = PickLines(output, folder, IsFinding, 20);
    if (found.empty()) found = PickLines(output, folder, AnyLine, 10);
    return std::string(kScanComplete) + "\n\nThe scanner reported:" + Joined(found);
}

bool BuildScanArguments(const std::string& program, const std::string& scan_template,
                        const std::string& folder, std::vector<std::string>& argv,
                        std::vector<std::string>& made, std::string& error) {
    std::string bare = folder;
    while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    std::string base = ProgramBaseName(program);
    argv = {program};
    bool placeholder = false;
    for (const std::string& word : SplitWords(scan_template)) {
        std::string out;
        for (size_t i = 0; i < word.size();) {
            if (word.compare(i, 3, "*.*") == 0) {
                out += IsFolderOnlyScanner(base) ? bare : bare + "/";
                i += 3;
                placeholder = true;
            } else if (word.compare(i, 2, "%d") == 0) {
                out += bare;
                i += 2;
                placeholder = true;
            } else if (word.compare(i, 2, "%f") == 0) {
                std::string report = MakeTempFile({});
                if (report.empty()) {
                    error = "Could not make a report file for the virus scanner";
                    return false;
                }
                made.push_back(report);
                out += report;
                i += 2;
                placeholder = true;
            } else if (word.compare(i, 6, "%wscan") == 0) {
                std::string list = MakeTempFile(bare + "/*.*\n/all\n/sub\n/nomem");
                if (list.empty()) {
                    error = "Could not make a list file for the virus scanner";
                    return false;
                }
                made.push_back(list);
                if (!out.empty()) argv.push_back(out);
                argv.push_back("/LOAD");
                out = list;
                i += 6;
                placeholder = true;
            } else {
                out += word[i++];
            }
        }
        if (!out.empty()) argv.push_back(out);
    }
    if (!placeholder) argv.push_back(bare);
    return true;
}

ScanOutcome RunVirusScan(const ProgramLocations& locations, const ExtractAll& extract) {
    ScanOutcome out;
    if (locations.scan.empty() || FindOnPath(locations.scan).empty()) {
        out.message = "Virus scanner not installed in Options/Program Locations dialog box";
        return out;
    }
    std::string folder = MakePrivateFolder("borvan-scan.");
    if (folder.empty()) {
        out.message = "Could not make a temporary folder for the virus scan";
        return out;
    }
    std::string error;
    std::vector<std::string> made;
    std::vector<std::string> argv;
    if (!extract(folder, error)) {
        out.message = error.empty() ? "Error extracting" : error;
    } else if (!BuildScanArguments(locations.scan, locations.scan_template, folder, argv, made,
                                   error)) {
        out.message = error;
    } else {
        RunResult r = RunCaptured(argv, folder);
        out.output = r.output;
        if (!r.started) {
            out.message = "Could not run " + locations.scan;
        } else if (r.stopped) {
            out.ran = true;
            out.exit_code = r.exit_code;
            out.message = "The virus scan was stopped";
        } else {
            out.ran = true;
            out.exit_code = r.exit_code;
            out.message = ScanResultMessage(r.exit_code, r.signal, r.output, folder, out.completed);
        }
    }
    for (const std::string& f : made) unlink(f.c_str());
    RemoveTree(folder);
    return out;
}

}  // namespace programs
