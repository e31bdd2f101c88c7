// Extract, Test, Add and Delete: the commands that read or change the members of the open
// archive, through the engines for zip and the configured programs for ARJ, LZH and ARC.
#include "archiver/shell/window/member_commands.h"

#include <unistd.h>

#include <algorithm>

#include "archiver/formats/listed_member.h"
#include "archiver/shell/dialogs/dialogs.h"
#include "archiver/shell/encryption_choice.h"
#include "archiver/shell/terminal_text.h"
#include "archiver/shell/window/commands.h"
#include "archiver/shell/window/manager_state.h"
#include "archiver/shell/window/other_kinds.h"

namespace window {

namespace {

std::string Shown(std::string_view text) {
    return shell::TerminalSafe(text);
}

// The row count and size the meter of an extraction counts.
uint64_t SizeOf(const std::vector<size_t>& rows) {
    const shell::Listing& l = App().listing;
    if (rows.empty()) return l.total_uncompressed;
    uint64_t total = 0;
    for (size_t i : rows) {
        if (l.rows[i].uncompressed == shell::kUnknownSize) return shell::kUnknownSize;
        total += l.rows[i].uncompressed;
    }
    return total;
}

bool ArchiveChangeable() {
    Manager& m = App();
    // ARJ, LZH and ARC go to their programs, which say themselves what they cannot do.
    if (OpenFromMail()) {
        Say(Shown(m.decoded_from) + " is " + formats::KindDescription(formats::kKindEncodedMail) +
            "; this kind cannot be changed");
        return false;
    }
    if (m.kind == formats::kKindZip || formats::IsProgramKind(m.kind)) return true;
    Say(Shown(m.archive) + " is " + formats::KindDescription(m.kind) +
        "; this kind cannot be changed");
    return false;
}

}  // namespace

void Extract() {
    Manager& m = App();
    dialogs::ExtractDefaults d;
    d.archive = m.archive;
    d.target =
        m.cfg.use_extract_to && !m.cfg.extract_to.empty() ? m.cfg.extract_to : FolderOf(m.archive);
    d.has_selection = !m.list.model.Selection().empty();
    d.default_all = m.cfg.default_extract_all != 0;
    d.overwrite = OptionFlag(shell::kOptOverwrite);
    d.use_folder_names = OptionFlag(shell::kOptUseFolderNames);
    d.password = m.password;
    auto request = dialogs::RunExtractDialog(d);
    if (!request) return;
    if (!request->password.empty()) m.password = request->password;
    std::vector<std::string> selected = SelectedNames(false);
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kExtract;
        if (request->which == dialogs::ExtractWhich::kSelected) op.args.files = selected;
        if (request->which == dialogs::ExtractWhich::kPattern) op.args.files = request->patterns;
        op.args.folder_names = request->use_folder_names;
        op.args.overwrite = request->overwrite;
        op.folder = request->target;
        RunProgramOperation(op);
        return;
    }
    if (!EnsurePassword(false)) return;
    engine::UnzipCommand cmd = dialogs::MakeExtractCommand(*request, m.archive, m.kind, selected);
    engine::UnzipCommand base = BaseUnzipCommand();
    cmd.kind = base.kind;
    cmd.start_offset = base.start_offset;
    cmd.folders_by_attribute = base.folders_by_attribute;
    cmd.kind_value = base.kind_value;
    if (!cmd.password_given && base.password_given) {
        cmd.password_given = true;
        cmd.password = base.password;
    }
    m.output.clear();
    RunUnzip(cmd,
             SizeOf(request->which == dialogs::ExtractWhich::kSelected ? SelectedRows(false)
                                                                       : std::vector<size_t>{}));
}

void Test() {
    Manager& m = App();
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kTest;
        RunProgramOperation(op);
        return;
    }
    if (!EnsurePassword(false)) return;
    engine::UnzipCommand cmd = BaseUnzipCommand();
    cmd.has_target = false;
    if (RunUnzip(cmd, m.listing.total_uncompressed)) {
        if (cmd.result == engine::kUnzipOk)
            m.message = "Test of " + m.archive + " ended without errors";
        else if (cmd.result == engine::kUnzipStopped)
            m.message = "Test of " + m.archive + " stopped";
        else
            m.message = "Test of " + m.archive + " ended with errors (code " +
                        std::to_string(cmd.result) + ")";
    }
}

void Add() {
    Manager& m = App();
    if (!ArchiveChangeable()) return;
    dialogs::AddDefaults d;
    d.archive = m.archive;
    d.start_folder = m.cfg.use_add_dir && !m.cfg.add_dir.empty() ? m.cfg.add_dir : CurrentFolder();
    d.choices.compression = static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptCompression));
    d.choices.action = static_cast<int>(shell::GetOption(m.cfg.opts, shell::kOptAddAction));
    d.choices.recurse = OptionFlag(shell::kOptRecurse);
    d.choices.save_folder_info = OptionFlag(shell::kOptSaveFolderInfo);
    d.choices.short_names = OptionFlag(shell::kOptShortNames);
    d.choices.encryption = shell::EncryptionFromSetting(m.cfg.encryption);
    d.password = m.password;
    d.password_mask = m.cfg.password_mask;
    d.kind = m.kind;
    auto request = dialogs::RunAddDialog(d);
    if (!request) return;
    m.password = request->password;
    m.cfg.password_mask = request->password_mask;
    // The cipher chosen is the next add's default, here and without a screen.
    if (request->choices.encryption != d.choices.encryption) {
        m.cfg.encryption = shell::EncryptionName(request->choices.encryption);
        WriteSetting("Borvan", "Encryption", m.cfg.encryption);
    }
    if (formats::IsProgramKind(m.kind)) {
        if (request->split_size != 0) {
            Say("Only zip archives are written in volumes");
            return;
        }
        programs::OperationRequest op;
        op.op = programs::Operation::kAdd;
        op.args.files = request->names;
        op.args.mode = static_cast<programs::AddMode>(std::clamp(request->choices.action, 0, 3));
        op.args.archive_has_rows = !m.listing.rows.empty();
        op.args.recurse = request->choices.recurse;
        op.args.full_paths = request->choices.save_folder_info;
        op.args.best_compression = request->choices.compression == dialogs::kMaximum;
        op.folder = request->folder.empty() ? CurrentFolder() : request->folder;
        RunProgramOperation(op);
        ReloadArchive();
        return;
    }
    zip::ZipCommand cmd = dialogs::MakeAddCommand(*request, m.archive);
    // The names are relative to the folder the files were chosen in.
    std::string back = CurrentFolder();
    if (!request->folder.empty() && chdir(request->folder.c_str()) != 0) {
        Say("Cannot enter the folder " + Shown(request->folder));
        return;
    }
    RunZip(cmd);
    if (chdir(back.c_str()) != 0) Say("Cannot return to the folder " + Shown(back));
    ReloadArchive();
}

void Delete() {
    Manager& m = App();
    dialogs::DeleteDefaults d;
    d.archive = m.archive;
    d.has_selection = !m.list.model.Selection().empty();
    auto request = dialogs::RunDeleteDialog(d);
    if (!request) return;
    if (request->which == dialogs::DeleteWhich::kEntireArchive) {
        RunCommand(kCmdDeleteArchive);
        return;
    }
    if (!ArchiveChangeable()) return;
    if (formats::IsProgramKind(m.kind)) {
        programs::OperationRequest op;
        op.op = programs::Operation::kDelete;
        op.args.files = request->which == dialogs::DeleteWhich::kPattern ? request->patterns
                                                                         : SelectedNames(false);
        op.folder = FolderOf(m.archive);
        RunProgramOperation(op);
        ReloadArchive();
        return;
    }
    zip::ZipCommand cmd = dialogs::MakeDeleteCommand(*request, m.archive, SelectedNames(false));
    RunZip(cmd);
    ReloadArchive();
}

// Asks for the password before reading encrypted members, when none is set.
bool EnsurePassword(bool for_add) {
    Manager& m = App();
    if (!m.password.empty()) return true;
    if (!for_add && !m.listing.facts.encrypted) return true;
    if (for_add) return true;
    dialogs::PasswordDefaults d;
    d.mask = m.cfg.password_mask;
    d.kind = m.kind;
    auto r = dialogs::RunPasswordDialog(d);
    if (!r) return false;
    m.password = r->password;
    m.cfg.password_mask = r->mask;
    return true;
}

}  // namespace window
