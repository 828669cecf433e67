#pragma once

namespace nocturo {

// On SIGINT, SIGTERM and SIGHUP (Ctrl+C, a logout, a kill) and on a console
// close on Windows: release the shutter line and close the port, then let the
// signal end the process as it would have. A signal that was ignored when
// the program started (SIGHUP under nohup) is left ignored. On SIGTSTP
// (Ctrl+Z): release the shutter line, then stop; an exposure cut short so is
// reported once the program goes on. Call it on the window's thread.
void install_shutdown_handlers();

#ifndef _WIN32
// For tests, which go on: what the handlers do in place of their last act,
// stopping the process or ending it. Called inside the handler.
void replace_last_act_of_signal_handlers(void (*last_act)(int signal_number));
#endif

} // namespace nocturo
