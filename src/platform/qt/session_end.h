#pragma once

class QCoreApplication;

namespace nocturo {

// On Windows, releases the shutter line when the session ends under the
// program (a logoff or a shutdown: WM_ENDSESSION, after which Windows may end
// the process at any moment); the port is closed once, as the program ends.
// The query before it may still be cancelled, so it leaves an exposure
// alone. Elsewhere a session end arrives as SIGHUP or SIGTERM, which the
// shutdown handlers take.
void release_line_at_session_end(QCoreApplication& app);

} // namespace nocturo
