// The URL entry dialog on a terminal: description, address and marker of a URL-list entry,
// with a button that takes the page the browser shows.
#pragma once

#include <optional>

#include "chat/lists/url_catcher.h"
#include "platform/tui/dialog_model.h"

namespace chat {

/// The dialog's controls filled from `start`; with `marker_only` the description and the
/// address are shown but disabled.
tui::Dialog MakeUrlDialog(const UrlEdit& start);
/// Runs the dialog: the values taken by OK, or nothing for Cancel. OK with a field missing
/// beeps and puts the focus on that field.
std::optional<UrlEdit> RunUrlEntryDialog(const UrlEdit& start);

}  // namespace chat
