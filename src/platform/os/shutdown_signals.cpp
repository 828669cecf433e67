#include "platform/os/shutdown_signals.h"

#include "platform/os/serial_line.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace nocturo {

#ifdef _WIN32

namespace {
BOOL WINAPI on_console_event(DWORD) {
    release_serial_line_from_signal();
    return FALSE; // let the default handler end the process
}
} // namespace

void install_shutdown_handlers() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

#else

namespace {
void on_shutdown_signal(int signal_number) {
    release_serial_line_from_signal();
    // Ends the process with the signal's own status.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}
} // namespace

void install_shutdown_handlers() {
    struct sigaction action {};
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the program was started with ignored stays ignored:
        // under nohup a closed terminal must not end a night's series.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal_number, &action, nullptr);
    }
}

#endif

} // namespace nocturo
