// Desktop and file-manager integration: a desktop entry for this program, the default
// application for the archive kinds it opens, and "Add to archive" / "Extract here" actions for
// the file managers that take user actions from files (Dolphin, Nemo, Nautilus). Everything
// goes under the XDG data folder and is listed in a record, so that removing it takes away
// exactly what was written.
#pragma once

#include <string>
#include <vector>

namespace shell {

/// `text` quoted for the shell (single quotes, a quote inside spelt '\'').
std::string ShellQuoted(const std::string& text);

/// Where the integration's files go.
struct IntegrationPlaces {
    std::string data;     ///< $XDG_DATA_HOME (~/.local/share), no trailing "/"
    std::string config;   ///< $XDG_CONFIG_HOME (~/.config), no trailing "/"
    std::string program;  ///< the absolute path of this program, for the entries' Exec lines
};

/// The places of this environment; `program` is taken from /proc/self/exe.
IntegrationPlaces LoadIntegrationPlaces();

/// The MIME types the desktop entry claims: the archive kinds the program opens.
const std::vector<std::string>& IntegrationMimeTypes();

/// What one run did, line by line for the user.
struct IntegrationReport {
    bool ok = true;
    std::vector<std::string> lines;  ///< written or removed files, warnings, errors
};

/// Writes the desktop entry, the file-manager actions and the default-application lines. A
/// file already there that an earlier integration did not write is left alone (named in a
/// warning); running it again rewrites its own files.
IntegrationReport Integrate(const IntegrationPlaces& places);

/// Removes what Integrate wrote, as its record lists it: files, and the default-application
/// lines that still name this program. Nothing else is touched.
IntegrationReport Unintegrate(const IntegrationPlaces& places);

}  // namespace shell
