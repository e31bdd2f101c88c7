// Interrupt, terminate and hang-up signals as stop requests: a run in progress ends through the
// engines' stop path (temporary archive and partial output removed), and the program then
// ends by the same signal so that its caller sees why.
#pragma once

namespace shell {

/// Installs the handlers of SIGINT, SIGTERM and SIGHUP; each only records the signal for the
/// engines' stop check. Blocking reads are not restarted, so a waiting prompt returns.
void InstallStopSignals();

/// Called with the exit status of a finished command: when a signal asked to stop, says so on
/// standard error and ends the process by that signal (its default action); otherwise
/// returns the status unchanged.
int FinishAfterStopSignal(int status);

}  // namespace shell
