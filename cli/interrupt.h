// Ctrl+C for the long-running subcommands: SIGINT (and SIGTERM) set a flag and write a byte to a
// socket pair, so a wait on the line's descriptor ends at once and the subcommand finishes its
// report.
#pragma once

namespace Interrupt {
// Installs the handlers; false when the platform would not.
bool install();
// A signal came.
bool requested();
// Readable once a signal came, for poll(); -1 before install().
int descriptor();
} // namespace Interrupt
