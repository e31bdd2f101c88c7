// Install and uninstall without a screen: `--install ARCHIVE [--yes] [--prefix=DIR]` and
// `--uninstall [NAME]`.
#pragma once

#include <functional>
#include <string>

namespace shell {

/// Unpacks an archive whole into `folder`; false with the message in `error`.
using UnpackInto = std::function<bool(const std::string& folder, std::string& error)>;

/// Unpacks the archive into a private temporary folder, finds its setup program, shows the
/// command and asks (on the terminal; `yes` answers Yes, no terminal answers No) before running
/// it there with PREFIX set to `prefix` (~/.local when empty). The files it wrote under the
/// prefix are recorded under `name` for --uninstall; the temporary folder is removed. The exit
/// status: 0 done, 1 not run, 2 the setup program failed.
int InstallHeadless(const std::string& archive, const std::string& name, bool yes,
                    const std::string& prefix, const UnpackInto& unpack);

/// Without a name, lists the recorded installs; with one, removes what it installed (files
/// changed since are kept and named).
int UninstallHeadless(const std::string& name);

/// The folder the install records are kept in ($XDG_STATE_HOME/borvan32/installs/).
std::string InstallRecordFolder();

}  // namespace shell
