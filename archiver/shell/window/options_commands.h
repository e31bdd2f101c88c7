// The Options menu's dialogs and the settings they write: the configuration, the folders,
// the program locations, the desktop integration, and saving the settings now.
#pragma once

namespace window {

/// File Manager Configuration: the desktop integration added (Yes) or removed (No).
void FileManagerIntegration();
/// Keeps the add and extract choices and the sort order in the option record.
void NoteChoices();
/// Save Settings Now: every setting written at once.
void SaveSettingsNow();
/// Configuration: the option record edited in its dialog.
void Configuration();
/// Set Installation Defaults: the option record back to its defaults, after a question.
void InstallationDefaults();
/// Folders: the default folders edited, their keys written at once.
void Folders();
/// Program Locations: the outside programs' paths edited, their keys written at once.
void ProgramLocations();

}  // namespace window
