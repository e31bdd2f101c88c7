// The wizard's steps as plain state: which task, which step, what was chosen, where Next and
// Back lead and what stops Next. Nothing here draws; the checks look at the file system only.
#pragma once

#include <string>
#include <vector>

namespace window {

/// The two tasks the wizard walks through.
enum class WizardTask { kUnpack, kPack };

/// The steps, in the order Next visits them for each task.
enum class WizardStep {
    kTask,           ///< unpack or pack (and whether to start with the wizard)
    kUnpackArchive,  ///< the archive to unpack
    kUnpackTarget,   ///< the folder to unpack into
    kPackFiles,      ///< the files and folders to pack
    kPackArchive,    ///< the archive to make
    kPackOptions,    ///< the compression, then Go
    kRun,            ///< the engine works; the summary follows
    kSummary,        ///< what was done
};

/// Compression choices of packing, in the order of the Add dialog's list (Maximum first).
constexpr int kWizardCompressionChoices = 5;

/// What the user chose so far; Back keeps every choice.
struct WizardChoices {
    WizardTask task = WizardTask::kUnpack;
    /// Unpack: the archive and the folder to unpack into.
    std::string archive;
    std::string target;
    /// Unpack: replace files that are already in the folder.
    bool overwrite = false;
    /// Pack: files and folders (absolute paths), the archive to make and the compression.
    std::vector<std::string> items;
    std::string pack_archive;
    int compression = 1;
    /// Start the program in the wizard next time ("Wizard" in the settings).
    bool start_with_wizard = false;
};

/// The wizard's state machine.
struct WizardFlow {
    WizardStep step = WizardStep::kTask;
    WizardChoices choices;

    /// Checks the current step's choice and moves to the next step; on a refusal the step
    /// stays and the message says what is wrong. Entering a step fills its default (a
    /// folder named after the archive, an archive named after the first item) unless the
    /// user already chose something there.
    std::string Next();
    /// Goes back one step (nothing happens on the first or once the run has begun).
    void Back();
    /// True on the step whose Next starts the work.
    bool AtGo() const;
    /// Steps of the chosen task and the current one's number from 1 ("Step 2 of 3").
    int StepNumber() const;
    int StepCount() const;
    /// Marks the run done: the summary follows.
    void Finish();
    /// Back to the first step for another task, keeping the choices as defaults.
    void StartOver();

    /// The default folder last filled in for `target` and the archive it was named after:
    /// a target still equal to it follows a newly chosen archive.
    std::string default_target;
    std::string default_pack_archive;
};

/// Expands a leading "~/" to $HOME, makes a relative path absolute (from the current folder)
/// and drops trailing slashes.
std::string WizardPath(const std::string& typed);

/// The folder an archive unpacks into by default: beside it, named after it without its
/// archive extensions ("photos.tar.gz" gives "photos"); never the archive's own name.
std::string DefaultUnpackFolder(const std::string& archive);

/// The archive packing makes by default: one item gives "<item>.zip" beside it ("report.txt"
/// gives "report.zip"); several items give "<their folder>.zip" inside their common folder.
std::string DefaultPackArchive(const std::vector<std::string>& items);

/// The folder the items have in common, from which their names are stored; empty when they
/// have none below the root.
std::string CommonFolder(const std::vector<std::string>& items);

/// Why the archive cannot be unpacked (missing, a folder, unreadable), or empty.
std::string UnpackArchiveProblem(const std::string& archive);
/// Why the folder cannot be unpacked into (a file, not writable, its parent missing or not
/// writable), or empty.
std::string UnpackTargetProblem(const std::string& target);
/// Why the items cannot be packed (none chosen, one missing), or empty.
std::string PackItemsProblem(const std::vector<std::string>& items);
/// Why the archive cannot be made or added to (named as another kind, a folder, its folder
/// missing or not writable, an existing file that is not a zip archive), or empty.
std::string PackArchiveProblem(const std::string& archive);

/// Adds ".zip" to a name whose last component has no extension.
std::string WithZipName(const std::string& path);

}  // namespace window
