#pragma once

namespace nocturo {

// On SIGINT, SIGTERM and SIGHUP (Ctrl+C, a logout, a kill) and on a console
// close on Windows: release the shutter line and close the port, then let the
// signal end the process as it would have. A signal that was ignored when
// the program started (SIGHUP under nohup) is left ignored. On SIGTSTP
// (Ctrl+Z): release the shutter line, then stop; an exposure cut short so is
// reported once the program goes on.
void install_shutdown_handlers();

} // namespace nocturo
