// The wizard's steps: where Next and Back lead, the defaults each step fills in and the
// checks that keep a step from being left with a choice that cannot work.
#include "archiver/shell/window/wizard_flow.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "archiver/formats/archive_kind.h"
#include "archiver/shell/terminal_text.h"

namespace window {

namespace fs = std::filesystem;

namespace {

std::string Shown(const std::string& path) {
    return shell::TerminalSafe(path);
}

bool Writable(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// The nearest folder above `path` that exists (the path itself when it does).
fs::path ExistingAncestor(fs::path path) {
    std::error_code ec;
    while (!path.empty() && !fs::exists(path, ec)) {
        fs::path parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    return path;
}

// A problem with the folder that is to hold a new file or folder, or empty.
std::string ParentProblem(const fs::path& parent) {
    std::error_code ec;
    fs::path existing = ExistingAncestor(parent);
    if (existing.empty() || !fs::exists(existing, ec))
        return "The folder " + Shown(parent.string()) + " does not exist.";
    if (!fs::is_directory(existing, ec))
        return Shown(existing.string()) + " is a file, not a folder.";
    if (!Writable(existing))
        return "The folder " + Shown(existing.string()) + " cannot be written to.";
    return "";
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string WizardPath(const std::string& typed) {
    if (typed.empty()) return "";
    std::string text = typed;
    if (text == "~" || text.rfind("~/", 0) == 0) {
        const char* home = std::getenv("HOME");
        if (home && *home) text = std::string(home) + text.substr(1);
    }
    fs::path p(text);
    std::error_code ec;
    if (p.is_relative()) p = fs::current_path(ec) / p;
    std::string out = p.lexically_normal().string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::string DefaultUnpackFolder(const std::string& archive) {
    fs::path p(archive);
    std::string name = p.filename().string();
    std::string base = p.stem().string();
    // "photos.tar.gz" unpacks into "photos", as "photos.tgz" does.
    if (EqualsIgnoringCase(fs::path(base).extension().string(), ".tar"))
        base = fs::path(base).stem().string();
    if (base.empty() || base == name) base = name + "_files";
    return (p.parent_path() / base).string();
}

std::string CommonFolder(const std::vector<std::string>& items) {
    if (items.empty()) return "";
    fs::path common = fs::path(items.front()).parent_path();
    for (const std::string& item : items) {
        fs::path parent = fs::path(item).parent_path();
        fs::path shared;
        auto a = common.begin();
        auto b = parent.begin();
        for (; a != common.end() && b != parent.end() && *a == *b; ++a, ++b) shared /= *a;
        common = shared;
    }
    return common.string();
}

std::string DefaultPackArchive(const std::vector<std::string>& items) {
    if (items.empty()) return "";
    std::error_code ec;
    if (items.size() == 1) {
        fs::path item(items.front());
        std::string name =
            fs::is_directory(item, ec) ? item.filename().string() : item.stem().string();
        if (name.empty() || name == "/") name = "archive";
        std::string archive = (item.parent_path() / (name + ".zip")).string();
        // A zip archive packed on its own must not be named as itself.
        if (archive == item.string())
            archive = (item.parent_path() / (name + "_packed.zip")).string();
        return archive;
    }
    fs::path common(CommonFolder(items));
    std::string name = common.filename().string();
    if (name.empty()) name = "archive";
    if (common.empty()) common = "/";
    return (common / (name + ".zip")).string();
}

std::string WithZipName(const std::string& path) {
    if (path.empty()) return path;
    std::string base = fs::path(path).filename().string();
    size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) return path + ".zip";
    return path;
}

std::string UnpackArchiveProblem(const std::string& archive) {
    if (archive.empty()) return "Choose the archive to unpack.";
    std::error_code ec;
    if (!fs::exists(archive, ec)) return "The archive " + Shown(archive) + " does not exist.";
    if (fs::is_directory(archive, ec)) return Shown(archive) + " is a folder, not an archive.";
    if (::access(archive.c_str(), R_OK) != 0)
        return "The archive " + Shown(archive) + " cannot be read.";
    return "";
}

std::string UnpackTargetProblem(const std::string& target) {
    if (target.empty()) return "Choose the folder to unpack into.";
    std::error_code ec;
    if (fs::exists(target, ec)) {
        if (!fs::is_directory(target, ec)) return Shown(target) + " is a file, not a folder.";
        if (!Writable(target)) return "The folder " + Shown(target) + " cannot be written to.";
        return "";
    }
    return ParentProblem(fs::path(target).parent_path());
}

std::string PackItemsProblem(const std::vector<std::string>& items) {
    if (items.empty()) return "Choose the files or folders to pack.";
    std::error_code ec;
    for (const std::string& item : items) {
        if (!fs::exists(fs::symlink_status(item, ec))) return Shown(item) + " does not exist.";
        if (fs::path(item) == fs::path(item).root_path())
            return "The whole file system cannot be packed; choose folders below it.";
    }
    return "";
}

std::string PackArchiveProblem(const std::string& archive) {
    if (archive.empty()) return "Type the name of the archive to make.";
    formats::ArchiveKind named = formats::KindByExtension(archive);
    if (named != formats::kKindUnknown && named != formats::kKindZip)
        return "The wizard makes zip archives; name the archive with .zip (" + Shown(archive) +
               " names " + formats::KindDescription(named) + ").";
    std::error_code ec;
    if (fs::is_directory(archive, ec)) return Shown(archive) + " is a folder, not an archive.";
    if (fs::exists(archive, ec)) {
        formats::ArchiveKind kind = formats::kKindZip;
        if (!formats::DetectFileKind(archive, formats::kKindZip, kind))
            return "The archive " + Shown(archive) + " cannot be read.";
        if (kind != formats::kKindZip)
            return Shown(archive) + " is " + formats::KindDescription(kind) +
                   ", not a zip archive.";
        if (::access(archive.c_str(), W_OK) != 0)
            return "The archive " + Shown(archive) + " cannot be written to.";
    }
    return ParentProblem(fs::path(archive).parent_path());
}

std::string WizardFlow::Next() {
    WizardChoices& c = choices;
    switch (step) {
        case WizardStep::kTask:
            step =
                c.task == WizardTask::kUnpack ? WizardStep::kUnpackArchive : WizardStep::kPackFiles;
            return "";
        case WizardStep::kUnpackArchive: {
            c.archive = WizardPath(c.archive);
            if (std::string problem = UnpackArchiveProblem(c.archive); !problem.empty())
                return problem;
            // The folder follows the archive until the user chooses one of their own.
            if (c.target.empty() || c.target == default_target) {
                c.target = DefaultUnpackFolder(c.archive);
                default_target = c.target;
            }
            step = WizardStep::kUnpackTarget;
            return "";
        }
        case WizardStep::kUnpackTarget: {
            c.target = WizardPath(c.target);
            if (std::string problem = UnpackTargetProblem(c.target); !problem.empty())
                return problem;
            step = WizardStep::kRun;
            return "";
        }
        case WizardStep::kPackFiles: {
            for (std::string& item : c.items) item = WizardPath(item);
            c.items.erase(std::remove(c.items.begin(), c.items.end(), std::string()),
                          c.items.end());
            if (std::string problem = PackItemsProblem(c.items); !problem.empty()) return problem;
            if (c.pack_archive.empty() || c.pack_archive == default_pack_archive) {
                c.pack_archive = DefaultPackArchive(c.items);
                default_pack_archive = c.pack_archive;
            }
            step = WizardStep::kPackArchive;
            return "";
        }
        case WizardStep::kPackArchive: {
            c.pack_archive = WithZipName(WizardPath(c.pack_archive));
            if (std::string problem = PackArchiveProblem(c.pack_archive); !problem.empty())
                return problem;
            step = WizardStep::kPackOptions;
            return "";
        }
        case WizardStep::kPackOptions:
            c.compression = std::clamp(c.compression, 0, kWizardCompressionChoices - 1);
            step = WizardStep::kRun;
            return "";
        case WizardStep::kRun:
        case WizardStep::kSummary:
            return "";
    }
    return "";
}

void WizardFlow::Back() {
    switch (step) {
        case WizardStep::kUnpackArchive:
        case WizardStep::kPackFiles:
            step = WizardStep::kTask;
            return;
        case WizardStep::kUnpackTarget:
            step = WizardStep::kUnpackArchive;
            return;
        case WizardStep::kPackArchive:
            step = WizardStep::kPackFiles;
            return;
        case WizardStep::kPackOptions:
            step = WizardStep::kPackArchive;
            return;
        case WizardStep::kTask:
        case WizardStep::kRun:
        case WizardStep::kSummary:
            return;
    }
}

bool WizardFlow::AtGo() const {
    return step == WizardStep::kUnpackTarget || step == WizardStep::kPackOptions;
}

int WizardFlow::StepCount() const {
    return choices.task == WizardTask::kUnpack ? 3 : 4;
}

int WizardFlow::StepNumber() const {
    switch (step) {
        case WizardStep::kTask:
            return 1;
        case WizardStep::kUnpackArchive:
        case WizardStep::kPackFiles:
            return 2;
        case WizardStep::kUnpackTarget:
        case WizardStep::kPackArchive:
            return 3;
        case WizardStep::kPackOptions:
            return 4;
        case WizardStep::kRun:
        case WizardStep::kSummary:
            return StepCount();
    }
    return 1;
}

void WizardFlow::Finish() {
    if (step == WizardStep::kRun) step = WizardStep::kSummary;
}

void WizardFlow::StartOver() {
    step = WizardStep::kTask;
}

}  // namespace window
