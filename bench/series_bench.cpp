// Whole series as a photographer runs them, measured from outside: the
// program (nocturo_on_pty: the shipped code, its Com1 on a pseudo-terminal
// whose modem lines the recorder logs) runs a series, and the DTR edges
// give how exactly each exposure and each gap between exposures lasted.
// Every series runs with the shipped event pump and with a busy loop, the
// default one also among 2,000 other processes with 40 files open each, as
// root sees a busy desktop or a Pi running an astronomy suite. Then
// the real nocturo executable is started several times to time its
// start-up. Writes a Markdown table to the file given (bench/results.md).
//
// Usage: series_bench [results.md]

#include "platform/pty.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using nocturo::testing_support::ModemEvent;
using nocturo::testing_support::ModemLog;
using nocturo::testing_support::monotonic_ns;
using nocturo::testing_support::Pty;

namespace {

struct Series {
    const char* name;
    const char* rows; // exposure time, number of exposures, start delay, pause
    double length;    // seconds of each exposure
    double pause;     // seconds between exposures
    int crowd = 0;    // other processes running meanwhile, with files open
};

const Series kSeries[] = {
    {"3 x 5 s, 1 s pauses, 1 s start delay", "0,2,0,0", 5.0, 1.0},
    {"1 x 60 s, 1 s start delay", "11,0,0,0", 60.0, 1.0},
    {"the defaults: 2 x 5 s, 3 s pause, 3 s start delay", "0,1,2,2", 5.0, 3.0},
    {"the defaults, among 2,000 processes with 80,000 files open", "0,1,2,2", 5.0, 3.0, 2000},
};

// Processes that sleep with files open (/dev/null, 40 each): whether one of
// them has the port open is read from every one's open files.
class Crowd {
public:
    explicit Crowd(int processes) {
        for (int i = 0; i < processes; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                for (int file = 0; file < 40; ++file) {
                    (void)!open("/dev/null", O_RDONLY);
                }
                pause();
                _exit(0);
            }
            pids_.push_back(pid);
        }
    }
    ~Crowd() {
        for (const pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

private:
    std::vector<pid_t> pids_;
};

struct Stats {
    double median = 0.0;
    double max = 0.0; // largest deviation by magnitude, with its sign
};

Stats stats(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const double worst = *std::max_element(values.begin(), values.end(), [](double a, double b) {
        return std::fabs(a) < std::fabs(b);
    });
    return {sorted[sorted.size() / 2], worst};
}

int spawn_and_wait(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        environment.emplace_back(*e);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (const std::string& e : environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

std::map<std::string, double> read_report(const std::string& path) {
    std::map<std::string, double> values;
    std::ifstream in(path);
    std::string key;
    double value = 0.0;
    while (in >> key >> value) {
        values[key] = value;
    }
    return values;
}

struct SeriesResult {
    Stats hold_ms;
    Stats gap_ms;
    int exposures = 0;
    double cpu_percent = 0.0;
    double idle_cpu_percent = 0.0;
    double peak_mib = 0.0;
    double silence_ms = 0.0; // the longest the window kept events waiting
};

SeriesResult run_series(const Series& series, bool busy, int idle_seconds) {
    const Crowd crowd(series.crowd);
    Pty pty;
    ModemLog log;
    const std::string report = log.path() + ".report";
    std::vector<std::string> args = {NOCTURO_ON_PTY, pty.slave(), "--rows",
                                     series.rows,    "--idle",    std::to_string(idle_seconds),
                                     "--report",     report,      "--quit"};
    if (busy) {
        args.emplace_back("--busy");
    }
    if (series.crowd > 0) {
        args.emplace_back("--probe");
    }
    spawn_and_wait(args, {std::string("LD_PRELOAD=") + NOCTURO_RECORDER,
                          "NOCTURO_MODEM_LOG=" + log.path(), "QT_QPA_PLATFORM=offscreen"});

    std::vector<std::int64_t> rises;
    std::vector<std::int64_t> falls;
    for (const ModemEvent& e : log.events(pty.slave())) {
        if (e.what == "DTR 1") {
            rises.push_back(e.ns);
        } else if (e.what == "DTR 0") {
            falls.push_back(e.ns);
        }
    }
    SeriesResult result;
    result.exposures = static_cast<int>(std::min(rises.size(), falls.size()));
    std::vector<double> holds;
    std::vector<double> gaps;
    // The waits end on the rounded count: an exposure when it is half a
    // second short of its length, the pause between exposures half a second
    // past its own.
    for (std::size_t i = 0; i < static_cast<std::size_t>(result.exposures); ++i) {
        holds.push_back(static_cast<double>(falls[i] - rises[i]) / 1e6 -
                        (series.length - 0.5) * 1000.0);
        if (i + 1 < rises.size()) {
            gaps.push_back(static_cast<double>(rises[i + 1] - falls[i]) / 1e6 -
                           (series.pause + 0.5) * 1000.0);
        }
    }
    result.hold_ms = stats(holds);
    result.gap_ms = stats(gaps);
    const std::map<std::string, double> usage = read_report(report);
    if (usage.count("run_wall") != 0) {
        result.cpu_percent = 100.0 * usage.at("run_cpu") / usage.at("run_wall");
        if (idle_seconds > 0) {
            result.idle_cpu_percent = 100.0 * usage.at("idle_cpu") / usage.at("idle_wall");
        }
        result.peak_mib = usage.at("peak_kib") / 1024.0;
        result.silence_ms = usage.at("silence_ms");
    }
    ::unlink(report.c_str());
    return result;
}

Stats startup_ms(int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        ModemLog shown; // a fresh file to note the moment in
        const std::int64_t started = monotonic_ns();
        spawn_and_wait({NOCTURO_EXECUTABLE},
                       {std::string("LD_PRELOAD=") + NOCTURO_STARTUP_PROBE,
                        "NOCTURO_SHOWN_LOG=" + shown.path(), "QT_QPA_PLATFORM=offscreen"});
        std::ifstream in(shown.path());
        std::int64_t painted = 0;
        if (in >> painted) {
            times.push_back(static_cast<double>(painted - started) / 1e6);
        }
    }
    std::sort(times.begin(), times.end());
    return times.empty() ? Stats{} : Stats{times[times.size() / 2], times.back()};
}

double clock_step_ms() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    const float seconds =
        static_cast<float>(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
    return (double{std::nextafter(seconds, 1e6f)} - double{seconds}) * 1000.0;
}

std::string machine() {
    utsname u{};
    uname(&u);
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + u.sysname +
           " " + u.release;
}

std::string fixed(double v, int digits = 2) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
    return buffer;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string out_path = argc > 1 ? argv[1] : "bench/results.md";
    const double step = clock_step_ms();
    std::ostringstream table;
    char date[32];
    const std::time_t t = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&t));
    table << "Measured " << date << " on " << machine() << ", Qt " << NOCTURO_QT_VERSION
          << ", offscreen, by `./bench.sh` (`series_bench`). The smallest step of the "
             "window's clock at this time of day: "
          << fixed(step, 3) << " ms.\n\n";
    table << "| series | pump | exposures | DTR hold − ideal, median / worst (ms) | gap − "
             "ideal, median / worst (ms) | CPU, whole series (% of one core) | CPU, 10 s "
             "idle (%) | peak memory (MiB) |\n";
    table << "|---|---|---|---|---|---|---|---|\n";
    std::ostringstream silences;
    for (const Series& series : kSeries) {
        for (const bool busy : {false, true}) {
            const bool first = &series == &kSeries[0];
            const SeriesResult r = run_series(series, busy, first ? 10 : 0);
            table << "| " << series.name << " | " << (busy ? "busy loop" : "shipped") << " | "
                  << r.exposures << " | " << fixed(r.hold_ms.median, 3) << " / "
                  << fixed(r.hold_ms.max, 3) << " | "
                  << (r.exposures > 1 ? fixed(r.gap_ms.median, 3) + " / " + fixed(r.gap_ms.max, 3)
                                      : std::string("–"))
                  << " | " << fixed(r.cpu_percent) << " | "
                  << (first ? fixed(r.idle_cpu_percent) : std::string("–")) << " | "
                  << fixed(r.peak_mib, 1) << " |\n";
            if (series.crowd > 0) {
                silences << "; " << (busy ? "busy loop " : "shipped pump ")
                         << fixed(r.silence_ms, 1) << " ms";
            }
            std::printf("done: %s, %s pump\n", series.name, busy ? "busy" : "shipped");
            std::fflush(stdout);
        }
    }
    // A virtual machine stalls now and then, whatever runs in it: three more
    // runs among the processes tell its stalls from the program's.
    for (int run = 0; run < 3; ++run) {
        silences << (run == 0 ? "; shipped pump again " : ", ")
                 << fixed(run_series(kSeries[std::size(kSeries) - 1], false, 0).silence_ms, 1)
                 << (run == 2 ? " ms" : "");
    }
    table << "\nThe longest the window's thread kept events waiting, among the 2,000 "
             "processes: between two turns of a timer due every 10 ms, from START to the end of "
             "the series, the lesser of the time passed and the thread's processor time"
          << silences.str() << ".\n";
    const Stats startup = startup_ms(10);
    table << "\nStart-up of the real `nocturo` executable to its window's first paint, 10 "
             "starts: median "
          << fixed(startup.median, 1) << " ms, slowest " << fixed(startup.max, 1) << " ms.\n";
    std::ofstream(out_path) << table.str();
    std::fputs(table.str().c_str(), stdout);
    return 0;
}
