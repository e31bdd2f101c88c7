// Running the dialogs on the screen: each is shown until it yields its request or is
// cancelled; a choice that needs another dialog (a password, a folder, a refusal) runs that
// one and comes back to where it was.
#include "archiver/shell/dialogs/dialogs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archiver/shell/dialogs/archive_files.h"
#include "archiver/shell/dialogs/dialog_parts.h"
#include "archiver/shell/dialogs/messages.h"
#include "archiver/shell/dialogs/password_model.h"
#include "archiver/shell/terminal_text.h"
#include "platform/tui/file_dialog.h"
#include "platform/tui/folder_listing.h"
#include "platform/tui/widgets.h"

namespace dialogs {

namespace {

// Runs a dialog again after it ended (keeping what the user typed).
int Rerun(tui::Dialog& d) {
    d.result = -1;
    return tui::RunDialog(d);
}

// True when the path's last component has a `.` after its first character.
bool HasExtension(const std::string& path) {
    const std::string base = BaseName(path);
    const size_t dot = base.rfind('.');
    return dot != std::string::npos && dot > 0;
}

bool IsFileNotFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void ShowFailure(const std::string& what, int err) {
    ShowMessage(what + "\n\n" + std::strerror(err));
}

// Asks before an existing file is replaced; true to go on.
bool MayReplace(const std::string& path) {
    return ShowMessage(path + " already exists.\n\nReplace it?", tui::MessageButtons::kYesNo) ==
           tui::kIdYes;
}

}  // namespace

std::optional<AddRequest> RunAddDialog(const AddDefaults& defaults) {
    auto state = std::make_shared<AddState>();
    tui::Dialog d = MakeAddDialog(defaults, state);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r == kIdPasswordButton) {
            PasswordDefaults p{state->password, state->mask, true, state->kind};
            if (auto chosen = RunPasswordDialog(p)) {
                state->password = chosen->password;
                state->mask = chosen->mask;
            }
            continue;
        }
        if (r != tui::kIdOk && r != kIdList) return std::nullopt;
        std::string error;
        if (auto request = ReadAddRequest(d, *state, error)) {
            if (request->choices.spanning != 0) ShowMessage(kMsgSpanningAddOn);
            return request;
        }
        ShowMessage(error);
    }
}

std::optional<ExtractRequest> RunExtractDialog(const ExtractDefaults& defaults) {
    tui::Dialog d = MakeExtractDialog(defaults);
    std::string password = defaults.password;
    bool mask = defaults.password_mask;
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r == kIdBrowse) {
            std::string folder = EditText(d, kIdTarget);
            if (folder.empty()) folder = FolderOf(defaults.archive);
            if (tui::RunFileDialog("Extract To", folder, "", true))
                SetEditText(d, kIdTarget, folder);
            continue;
        }
        if (r == kIdPasswordButton) {
            if (auto chosen = RunPasswordDialog({password, mask, false, defaults.kind})) {
                password = chosen->password;
                mask = chosen->mask;
            }
            continue;
        }
        if (r != tui::kIdOk) return std::nullopt;
        std::string error;
        if (auto request = ReadExtractRequest(d, error)) {
            request->password = password;
            request->password_mask = mask;
            return request;
        }
        ShowMessage(error);
    }
}

std::optional<DeleteRequest> RunDeleteDialog(const DeleteDefaults& defaults) {
    tui::Dialog d = MakeDeleteDialog(defaults);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r != tui::kIdOk) return std::nullopt;
        std::string error;
        if (auto request = ReadDeleteRequest(d, error)) return request;
        ShowMessage(error);
    }
}

std::optional<PasswordResult> RunPasswordDialog(const PasswordDefaults& defaults) {
    tui::Dialog d = MakePasswordDialog(defaults);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r != tui::kIdOk) return std::nullopt;
        PasswordResult result{EditText(d, kIdPassword), Checked(d, kIdMask)};
        if (auto refusal = PasswordRefusal(result.password, defaults.kind)) {
            ShowMessage(*refusal);
            continue;
        }
        if (!NeedsConfirmation(defaults.for_add, result.mask, result.password)) return result;
        tui::Dialog confirm = MakeConfirmDialog();
        for (int c = tui::RunDialog(confirm);; c = Rerun(confirm)) {
            if (c != tui::kIdOk) break;  // back to the first prompt
            if (EditText(confirm, kIdPassword) == result.password) return result;
            ShowMessage(kMsgPasswordMismatch);
            SetEditText(confirm, kIdPassword, "");
        }
    }
}

std::optional<shell::OptionRecord> RunConfigurationDialog(const shell::OptionRecord& record) {
    tui::Dialog d = MakeConfigurationDialog(record);
    if (tui::RunDialog(d) != tui::kIdOk) return std::nullopt;
    return ReadConfiguration(d, record);
}

std::optional<FolderSettings> RunFoldersDialog(const FolderSettings& folders) {
    tui::Dialog d = MakeFoldersDialog(folders);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r != tui::kIdOk) return std::nullopt;
        FolderSettings f = ReadFolders(d);
        const std::string missing = MissingFolder(f);
        if (missing.empty()) return f;
        ShowMessage("The folder " + missing + " does not exist.");
    }
}

std::optional<ProgramLocations> RunProgramLocationsDialog(const ProgramLocations& programs) {
    tui::Dialog d = MakeProgramsDialog(programs);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r != tui::kIdOk) return std::nullopt;
        ProgramLocations p = ReadPrograms(d);
        // A program named with a folder must be there; a bare name is looked up in PATH when
        // it runs.
        std::string bad;
        for (const std::string* path : {&p.lha, &p.arj, &p.arc, &p.scan, &p.viewer, &p.vviewer}) {
            if (path->find('/') != std::string::npos && ::access(path->c_str(), X_OK) != 0) {
                bad = *path;
                break;
            }
        }
        if (bad.empty()) return p;
        ShowMessage(bad + " is not a program that can be run.");
    }
}

namespace {

// The Open dialog's loop, shared by New: a typed folder is entered, a file is returned.
std::optional<std::string> Browse(const std::string& title, const std::string& start) {
    auto state = std::make_shared<BrowseState>();
    state->folder = StartFolder(start);
    state->archives_only = true;
    tui::Dialog d = MakeOpenDialog(title, state);
    for (int r = tui::RunDialog(d);; r = Rerun(d)) {
        if (r != tui::kIdOk && r != kIdList) return std::nullopt;
        std::optional<std::string> path = ReadOpenPath(d, *state);
        if (!path) {
            // OK on a folder of the list goes into it.
            const tui::Control* l = d.Find(kIdList);
            if (l && l->list.cursor < state->entries.size()) {
                state->folder =
                    tui::EnterFolder(state->folder, state->entries[l->list.cursor].name);
                RefreshBrowser(d, *state);
            }
            continue;
        }
        if (StartFolder(*path) == *path && *path != state->folder) {
            state->folder = *path;  // a typed folder: go there
            SetEditText(d, kIdNames, "");
            RefreshBrowser(d, *state);
            continue;
        }
        return path;
    }
}

}  // namespace

std::optional<std::string> RunNewArchiveDialog(const std::string& start_folder) {
    for (;;) {
        std::optional<std::string> path = Browse("New Archive", start_folder);
        if (!path) return std::nullopt;
        // A file of the very name typed is offered for opening; otherwise ".zip" is added
        // to a name without an extension.
        if (!HasExtension(*path) && !IsFileNotFolder(*path)) *path += ".zip";
        if (!PathExists(*path)) return path;
        const int answer =
            ShowMessage(*path + " already exists.\n\nOpen it?", tui::MessageButtons::kYesNoCancel);
        if (answer == tui::kIdYes) return path;
        if (answer == tui::kIdCancel) return std::nullopt;
    }
}

std::optional<std::string> RunOpenDialog(const std::string& start_folder) {
    for (;;) {
        std::optional<std::string> path = Browse("Open Archive", start_folder);
        if (!path) return std::nullopt;
        if (PathExists(*path)) return path;
        ShowMessage(*path + "\nFile not found.\nPlease verify the correct file name was given.");
    }
}

void RunInformationDialog(const ArchiveInformation& info) {
    tui::ShowMessageBox("Information", shell::TerminalSafe(InformationText(info)),
                        tui::MessageButtons::kOk);
}

void RunViewLastOutput(const std::string& log) {
    std::vector<std::string> lines;
    std::string safe = shell::TerminalSafe(log);
    size_t start = 0;
    while (start <= safe.size()) {
        const size_t end = safe.find('\n', start);
        lines.push_back(safe.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (lines.size() == 1 && lines[0].empty()) lines[0] = "No operation has run yet.";
    tui::ShowTextViewer("View Last Output", lines);
}

namespace {

// Asks for a target, confirms a replacement, and runs `op`; the new path on success.
std::optional<std::string> FileOperation(const std::string& title, const std::string& prompt,
                                         std::string value, const std::string& archive, bool rename,
                                         int (*op)(const std::string&, const std::string&, bool)) {
    for (;;) {
        if (!tui::InputBox(title, prompt, value, false, 4095)) return std::nullopt;
        std::string target = rename ? RenamedPath(archive, value) : ResolveTarget(archive, value);
        if (target.empty()) {
            ShowMessage(rename ? "Type a new name without a folder." : "Type where it goes.");
            continue;
        }
        // Replacing is allowed only for what was there when the user said so; a file that
        // appears meanwhile is not overwritten.
        const bool exists = PathExists(target);
        if (exists && !MayReplace(target)) continue;
        const int err = op(archive, target, exists);
        if (err == 0) return target;
        ShowFailure("Cannot " + std::string(title == "Copy Archive" ? "copy " : "move ") + archive +
                        " to " + target + ".",
                    err);
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> RunMoveArchiveDialog(const std::string& archive) {
    return FileOperation("Move Archive", "Move " + shell::TerminalSafe(BaseName(archive)) + " to:",
                         FolderOf(archive), archive, false, MoveArchiveFile);
}

std::optional<std::string> RunCopyArchiveDialog(const std::string& archive) {
    return FileOperation("Copy Archive", "Copy " + shell::TerminalSafe(BaseName(archive)) + " to:",
                         FolderOf(archive), archive, false, CopyArchiveFile);
}

std::optional<std::string> RunRenameArchiveDialog(const std::string& archive) {
    return FileOperation("Rename Archive",
                         "Rename " + shell::TerminalSafe(BaseName(archive)) + " to:",
                         BaseName(archive), archive, true, MoveArchiveFile);
}

bool RunDeleteArchiveDialog(const std::string& archive) {
    // Enter alone keeps the archive: the file goes only on an explicit Yes.
    if (!AskDefaultNo("Delete the archive " + archive + "?")) return false;
    if (::unlink(archive.c_str()) == 0) return true;
    ShowFailure("Cannot delete " + archive + ".", errno);
    return false;
}

}  // namespace dialogs
