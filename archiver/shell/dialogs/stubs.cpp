#include "archiver/shell/dialogs/dialogs.h"

namespace dialogs {

zip::ZipCommand MakeAddCommand(const AddRequest&, const std::string& archive) {
    zip::ZipCommand cmd;
    cmd.archive = archive;
    return cmd;
}
std::optional<AddRequest> RunAddDialog(const AddDefaults&) {
    return std::nullopt;
}
std::vector<std::string> SplitPatterns(const std::string&) {
    return {};
}
engine::UnzipCommand MakeExtractCommand(const ExtractRequest&, const std::string& archive,
                                        formats::ArchiveKind, const std::vector<std::string>&) {
    engine::UnzipCommand cmd;
    cmd.archive = archive;
    return cmd;
}
std::optional<ExtractRequest> RunExtractDialog(const ExtractDefaults&) {
    return std::nullopt;
}
zip::ZipCommand MakeDeleteCommand(const DeleteRequest&, const std::string& archive,
                                  const std::vector<std::string>&) {
    zip::ZipCommand cmd;
    cmd.archive = archive;
    return cmd;
}
std::optional<DeleteRequest> RunDeleteDialog(const DeleteDefaults&) {
    return std::nullopt;
}
std::optional<PasswordResult> RunPasswordDialog(const PasswordDefaults&) {
    return std::nullopt;
}
std::optional<shell::OptionRecord> RunConfigurationDialog(const shell::OptionRecord&) {
    return std::nullopt;
}
std::optional<FolderSettings> RunFoldersDialog(const FolderSettings&) {
    return std::nullopt;
}
std::optional<ProgramLocations> RunProgramLocationsDialog(const ProgramLocations&) {
    return std::nullopt;
}
std::optional<std::string> RunNewArchiveDialog(const std::string&) {
    return std::nullopt;
}
std::optional<std::string> RunOpenDialog(const std::string&) {
    return std::nullopt;
}
void RunInformationDialog(const ArchiveInformation&) {}
void RunViewLastOutput(const std::string&) {}
std::optional<std::string> RunMoveArchiveDialog(const std::string&) {
    return std::nullopt;
}
std::optional<std::string> RunCopyArchiveDialog(const std::string&) {
    return std::nullopt;
}
std::optional<std::string> RunRenameArchiveDialog(const std::string&) {
    return std::nullopt;
}
bool RunDeleteArchiveDialog(const std::string&) {
    return false;
}

}  // namespace dialogs
