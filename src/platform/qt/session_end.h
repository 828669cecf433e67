#pragma once

class QCoreApplication;

namespace nocturo {

// On Windows, releases the shutter line and closes the port when the session
// ends under the program (a logoff or a shutdown: WM_ENDSESSION, after which
// Windows ends the process without unwinding a run). The query before it may
// still be cancelled, so it leaves an exposure alone. Elsewhere a session end
// arrives as SIGHUP or SIGTERM, which the shutdown handlers take.
void release_line_at_session_end(QCoreApplication& app);

} // namespace nocturo
