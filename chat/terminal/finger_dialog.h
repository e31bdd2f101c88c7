// The finger dialog on a terminal: an address field, the recent addresses to choose from, and
// a button that empties that list.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/tui/dialog_model.h"

namespace chat {

/// An example of what may be fingered, a different one each time the dialog opens.
std::string FingerExample(unsigned turn);
/// The dialog's controls: the field (holding the newest address), the list and the buttons.
tui::Dialog MakeFingerDialog(const std::vector<std::string>& recent, unsigned turn);
/// Runs the dialog: the address to finger, or nothing for Cancel. OK with an empty field
/// beeps; Enter on a recent address fingers it; "C&lear" empties the list through `clear`.
std::optional<std::string> RunFingerAddressDialog(const std::vector<std::string>& recent,
                                                  const std::function<void()>& clear);

}  // namespace chat
