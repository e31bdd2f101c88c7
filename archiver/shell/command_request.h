// The archive manager's command line: the start-up switches, the short command language for
// adding and extracting without dialogs, and the choice between the full-screen manager and
// the headless front end. Parsing is pure: nothing here touches files, the terminal or other
// instances.
#pragma once

#include <string>
#include <vector>

namespace shell {

/// The text of the message box shown for a command line that fails validation.
extern const char* const kParameterValidationError;
/// That text followed by what was wrong (": " + `why`), so that the refused switch is named;
/// the bare text when `why` is empty.
std::string ValidationErrorText(const std::string& why);

/// The command of the command language (a line that begins with "-").
enum class CommandAction {
    kNone,     ///< no command: open the archive (if any) and wait for the user
    kAdd,      ///< "-a": add (and replace) files
    kFreshen,  ///< "-f": freshen existing files
    kUpdate,   ///< "-u": update (and add) files
    kMove,     ///< "-m": move files into the archive
    kExtract,  ///< "-e": extract every member without the dialog
};

/// Compression choices of the Add dialog, in its order.
enum CompressionChoice : int {
    kCompressMaximum = 0,
    kCompressNormal = 1,
    kCompressFast = 2,
    kCompressSuperFast = 3,
    kCompressNone = 4,
};

/// Everything the command line asks for. Cleared before parsing; the compression choice
/// starts at Normal.
struct CommandRequest {
    /// Text for the validation error box (naming what was wrong); empty when the line was
    /// valid. After an error the rest of the request is as for an empty command line.
    std::string error;

    /// "/inichange": tell running instances to re-read their settings, then end.
    bool inichange = false;
    /// "/fmc": the file-manager configuration; the program ends.
    bool file_manager_config = false;

    /// "/nobmp": no toolbar pictures.
    bool no_bitmaps = false;
    /// "/wizard" (cleared by "/nowizard" and by any requested operation).
    bool wizard = false;
    /// "/nowizard" or a requested operation: do not start in the wizard, whatever the
    /// settings say.
    bool no_wizard = false;
    /// "-%": operation requested (first kind).
    bool operation_first = false;
    /// "-*": operation requested (second kind).
    bool operation_second = false;
    /// "-min": start minimised.
    bool minimised = false;
    /// Do not hand the request to a running instance ("/extract", "/extractx", "/fmx",
    /// "/vscan", "/NI" and the command language).
    bool no_handover = false;

    /// "/extract": open the Extract dialog once the archive is open.
    bool extract_dialog = false;
    /// "/extractx FOLDER" or "-e": extract every member without the dialog.
    bool extract_without_dialog = false;
    /// Target folder of an extract without the dialog ("." when the command gave none).
    std::string extract_folder;
    /// "-o" of "-e": overwrite existing files.
    bool overwrite = false;
    /// "-j" of "-e": do not use the members' folder names.
    bool no_folder_names = false;

    /// "/addx NAME": the one name handed to the drop-add feature.
    std::string drop_add_name;

    /// The command language's command.
    CommandAction action = CommandAction::kNone;
    /// "-r": recurse folders.
    bool recurse = false;
    /// "--follow-links": add what symbolic links point to.
    bool follow_links = false;
    /// "-p": save extra folder info.
    bool save_folder_info = false;
    /// "-e" + letter of an add command (CompressionChoice).
    int compression = kCompressNormal;
    /// Names to add ("*.*" when the add command named none).
    std::vector<std::string> file_names;

    /// "/fm" or "/fmx": started from the file manager.
    bool from_file_manager = false;
    /// "/cd": change to the archive's folder.
    bool change_to_archive_folder = false;
    /// "/vscan": run the virus scan after start.
    bool virus_scan = false;
    /// "/noicon": setup without program icons.
    bool no_icon = false;
    /// Setup mode asked for: "install", "installs", "installd", "installr" or "cleaninstall";
    /// empty when none.
    std::string setup_mode;
    /// "/DEBUG" or "/DEBUGX" (or "/installd"): debug log.
    bool debug_log = false;

    /// The archive to open (the command language's archive, ".zip" added when it had no
    /// extension; otherwise the first of `names`). Empty when none.
    std::string archive;
    /// What is left of the line after the switches: the names handed over to a running
    /// instance (the first of them is the archive to open).
    std::vector<std::string> names;
};

/// Parses the program's arguments (without argv[0]). Each argument is one blank-separated
/// word of the line; a switch matches a whole argument, ignoring case; "--" ends the switches.
CommandRequest ParseCommandLine(const std::vector<std::string>& args);

/// True when the program starts in the wizard: "/wizard" or the setting "Wizard" 1, unless
/// "/nowizard", an operation on the line (adding, extracting, a virus scan, setup) or a line
/// that did not parse says otherwise.
bool StartsInWizard(const CommandRequest& request, int wizard_setting);

/// True when the request may be handed to a running instance: the line parsed, nothing
/// prevented it and it asked for no setup, settings notice or file-manager configuration.
bool MayHandOver(const CommandRequest& request);

/// Which front end runs.
enum class FrontEnd {
    kManager,   ///< the full-screen manager
    kHeadless,  ///< the headless front end (listing, testing, extracting, zip commands)
    kUsage,     ///< no arguments and no terminal: print the usage text
};

/// The front end for these arguments: the headless one for "--headless", its own options
/// ("-l", "-t", "-d", "--sort=", "--password=", "--yes") or when standard input or output is
/// not a terminal; the usage text when there is neither an argument nor a terminal; the
/// full-screen manager otherwise.
FrontEnd ChooseFrontEnd(const std::vector<std::string>& args, bool stdin_tty, bool stdout_tty);

}  // namespace shell
