// How often the program wakes the computer: the context switches of all its
// threads, counted from /proc, and its processor time, during an exposure
// with the window shown, during one with the window hidden (unmapped), and
// idle after a run. On a laptop's battery through a night it is the number
// of wake-ups, more than the processor time, that keeps the processor out of
// its deep idle states. The program is nocturo_on_pty (the shipped code, its
// Com1 on a pseudo-terminal whose modem lines the recorder keeps), on the
// display and platform this benchmark is started with. Writes a Markdown
// table to the file given.
//
// Usage: wakeup_bench [wakeups.md]

#include "platform/pty.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using nocturo::testing_support::ModemLog;
using nocturo::testing_support::monotonic_ns;
using nocturo::testing_support::Pty;

namespace {

namespace fs = std::filesystem;

struct Sample {
    std::map<std::string, long long> switches; // of each thread
    double cpu = 0.0;                          // seconds
    double wall = 0.0;
};

Sample sample(pid_t pid) {
    Sample s;
    const fs::path proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    for (fs::directory_iterator it(proc / "task", ec), end; !ec && it != end; it.increment(ec)) {
        std::ifstream status(it->path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                s.switches[it->path().filename().string()] +=
                    std::atoll(line.substr(line.find(':') + 1).c_str());
            }
        }
    }
    std::ifstream stat(proc / "stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    double ticks = 0.0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::atof(field.c_str()); // utime, stime
        }
    }
    s.cpu = ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    s.wall = static_cast<double>(monotonic_ns()) / 1e9;
    return s;
}

void sleep_until(double started, double at) {
    const double now = static_cast<double>(monotonic_ns()) / 1e9;
    if (at > now - started) {
        std::this_thread::sleep_for(std::chrono::duration<double>(at - (now - started)));
    }
}

struct Rate {
    double per_second;
    double cpu_percent;
};

Rate between(pid_t pid, double started, double from, double to) {
    sleep_until(started, from);
    const Sample a = sample(pid);
    sleep_until(started, to);
    const Sample b = sample(pid);
    const double wall = b.wall - a.wall;
    // A thread that began meanwhile counts from nothing; one that ended is lost.
    long long switches = 0;
    for (const auto& [thread, count] : b.switches) {
        const auto before = a.switches.find(thread);
        switches += count - (before == a.switches.end() ? 0 : before->second);
    }
    return {static_cast<double>(switches) / wall, 100.0 * (b.cpu - a.cpu) / wall};
}

std::string fixed(double v, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
    return buffer;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string out_path = argc > 1 ? argv[1] : "bench/wakeups.md";
    setenv("LD_PRELOAD", NOCTURO_RECORDER, 1);
    // One exposure of 60 s after a start delay of a second: it runs from
    // 0.5 s to 60 s after START. Each figure is taken over 40 s of it.
    struct Case {
        const char* what;
        std::vector<std::string> options;
        double from, to;
        double idle_from = 0.0, idle_to = 0.0;
    };
    const Case cases[] = {
        {"window shown", {"--idle", "40"}, 6.0, 46.0, 65.0, 95.0},
        {"window hidden (unmapped 2 s after START)", {"--hide", "2"}, 6.0, 46.0},
    };
    std::ostringstream table;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* accessibility = std::getenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    table << "Platform `" << (platform != nullptr ? platform : "default") << "`"
          << (accessibility != nullptr ? ", accessibility bus on" : "")
          << "; one 60 s exposure, each figure over 40 s of it (idle: 30 s after the run).\n\n"
          << "| | wake-ups per second (context switches, all threads) | CPU (% of one core) |\n"
          << "|---|---|---|\n";
    std::string idle_row;
    for (const Case& c : cases) {
        Pty pty;
        ModemLog log;
        std::vector<std::string> args = {NOCTURO_ON_PTY, pty.slave(), "--rows", "11,0,0,0",
                                         "--quit"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const double started = static_cast<double>(monotonic_ns()) / 1e9;
        const pid_t child = nocturo::testing_support::start_program(args);
        if (child <= 0) {
            std::fprintf(stderr, "could not start %s\n", NOCTURO_ON_PTY);
            return 1;
        }
        const Rate during = between(child, started, c.from, c.to);
        table << "| during an exposure, " << c.what << " | " << fixed(during.per_second, 1) << " | "
              << fixed(during.cpu_percent, 2) << " |\n";
        if (c.idle_to > 0.0) {
            const Rate idle = between(child, started, c.idle_from, c.idle_to);
            idle_row = "| idle, window shown | " + fixed(idle.per_second, 1) + " | " +
                       fixed(idle.cpu_percent, 2) + " |\n";
        }
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        std::printf("done: %s\n", c.what);
        std::fflush(stdout);
    }
    table << idle_row;
    std::ofstream(out_path) << table.str();
    std::fputs(table.str().c_str(), stdout);
    return 0;
}
