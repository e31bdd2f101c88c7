// The records the Add, Extract and Delete requests become.
#include <string>
#include <vector>

#include "archiver/shell/dialogs/dialog_parts.h"

namespace dialogs {

namespace {

struct EngineCompression {
    int level;
    int method;
};
// Maximum, Normal, Fast, Super Fast, None.
constexpr EngineCompression kCompression[] = {{9, -1}, {5, -1}, {3, -1}, {1, -1}, {0, 0}};

// Add (and Replace), Freshen, Move (an add that deletes the files afterwards), Update.
constexpr int kRecordAction[] = {zip::kActionAdd, zip::kActionFreshen, zip::kActionAdd,
                                 zip::kActionUpdate};

}  // namespace

const char* const kActionTexts[4] = {"Add (and Replace) Files", "Freshen Existing Files",
                                     "Move Files", "Update (and Add) Files"};
const char* const kCompressionTexts[5] = {"Maximum (slowest)", "Normal", "Fast", "Super Fast",
                                          "None"};
const char* const kEncryptionTexts[4] = {"Traditional", "AES-128", "AES-192", "AES-256"};

zip::ZipCommand MakeAddCommand(const AddRequest& request, const std::string& archive) {
    zip::ZipCommand cmd;
    const AddChoices& c = request.choices;
    // A value from a damaged settings file falls back to the defaults, not out of the tables.
    const int compression = c.compression >= 0 && c.compression <= kNone ? c.compression : kNormal;
    const int action = c.action >= 0 && c.action <= kUpdateAdd ? c.action : kAddReplace;
    cmd.level = kCompression[compression].level;
    cmd.method = kCompression[compression].method;
    cmd.action = kRecordAction[action];
    cmd.move = action == kMoveFiles;
    cmd.recurse = c.recurse;
    cmd.store_folder_names = c.save_folder_info;
    cmd.short_names = c.short_names;
    cmd.encryption = c.encryption >= zip::kEncryptTraditional && c.encryption <= zip::kEncryptAes256
                         ? c.encryption
                         : zip::kEncryptTraditional;
    cmd.archive = archive;
    cmd.names = request.names;
    cmd.split_size = request.split_size;
    if (!request.password.empty()) {
        cmd.password_given = true;
        cmd.password = request.password;
    }
    return cmd;
}

std::vector<std::string> SplitPatterns(const std::string& text) {
    return SplitQuoted(text, " \t,;");
}

engine::UnzipCommand MakeExtractCommand(const ExtractRequest& request, const std::string& archive,
                                        formats::ArchiveKind kind,
                                        const std::vector<std::string>& selected) {
    engine::UnzipCommand cmd;
    cmd.kind = kind;
    cmd.archive = archive;
    cmd.has_target = true;
    cmd.target = request.target;
    if (request.which == ExtractWhich::kSelected) cmd.selection = selected;
    if (request.which == ExtractWhich::kPattern) cmd.selection = request.patterns;
    cmd.use_folder_names = request.use_folder_names;
    cmd.overwrite_all = request.overwrite;
    if (!request.password.empty()) {
        cmd.password_given = true;
        cmd.password = request.password;
    }
    return cmd;
}

zip::ZipCommand MakeDeleteCommand(const DeleteRequest& request, const std::string& archive,
                                  const std::vector<std::string>& selected) {
    zip::ZipCommand cmd;
    cmd.action = zip::kActionDelete;
    cmd.recurse = true;  // a folder name takes everything stored below it
    cmd.method = -1;
    cmd.level = 0;
    cmd.archive = archive;
    cmd.names = request.which == DeleteWhich::kPattern ? request.patterns : selected;
    return cmd;
}

}  // namespace dialogs
