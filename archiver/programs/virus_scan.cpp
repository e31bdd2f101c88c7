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

}  // namespace

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
        } else {
            out.ran = true;
            out.exit_code = r.exit_code;
            out.message = kScanComplete;
        }
    }
    for (const std::string& f : made) unlink(f.c_str());
    RemoveTree(folder);
    return out;
}

}  // namespace programs
