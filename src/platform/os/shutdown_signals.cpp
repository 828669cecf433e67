#include "platform/os/shutdown_signals.h"

#include "platform/os/serial_line.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <utility>
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

// The window's thread, where the serial line is opened and kept.
pthread_t g_window_thread;
void (*g_last_act)(int) = nullptr;

// A signal sent to the process may be handled on any thread that does not
// hold it back: the window's thread holds the signals back while it opens
// the port, until the port is the handlers' to find. One that another
// thread took is sent on to the window's thread, to wait there.
bool sent_on(int signal_number) {
    if (pthread_equal(pthread_self(), g_window_thread) != 0) {
        return false;
    }
    pthread_kill(g_window_thread, signal_number);
    return true;
}

void install(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

void on_shutdown_signal(int signal_number) {
    if (sent_on(signal_number)) {
        return;
    }
    release_serial_line_from_signal();
    if (g_last_act != nullptr) {
        g_last_act(signal_number);
        return;
    }
    // Ends the process with the signal's own status.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Ctrl+Z in the terminal Nocturo was started from: the shutter closes before
// the program stops. After fg an exposure that was under way is not taken
// up again: the run stops and says how long the shutter was open. A pause
// or the start delay finds its end passed, as after a held window, and the
// run goes on.
void on_stop_signal(int signal_number) {
    if (sent_on(signal_number)) {
        return;
    }
    const int saved = errno;
    stop_serial_line();
    if (g_last_act != nullptr) {
        g_last_act(signal_number);
    } else {
        std::signal(signal_number, SIG_DFL);
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, signal_number);
        pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
        std::raise(signal_number); // stops here until continued
        install(signal_number, on_stop_signal);
    }
    errno = saved;
}

} // namespace

void replace_last_act_of_signal_handlers(void (*last_act)(int signal_number)) {
    g_last_act = last_act;
}

void install_shutdown_handlers() {
    g_window_thread = pthread_self();
    const std::pair<int, void (*)(int)> handlers[] = {{SIGINT, on_shutdown_signal},
                                                      {SIGTERM, on_shutdown_signal},
                                                      {SIGHUP, on_shutdown_signal},
                                                      {SIGTSTP, on_stop_signal}};
    for (const auto& [signal_number, handler] : handlers) {
        // A signal the program was started with ignored stays ignored:
        // under nohup a closed terminal must not end a night's series.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
            continue;
        }
        install(signal_number, handler);
    }
}

#endif

} // namespace nocturo
