#include "platform/pty.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace nocturo::testing_support {

Pty::Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slave_ = ptsname(master_);
}

Pty::~Pty() {
    hang_up();
}

void Pty::hang_up() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

ModemLog::ModemLog() {
    char name[] = "/tmp/nocturo-modem-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("no log file");
    }
    ::close(fd);
    path_ = name;
    if (const char* before = std::getenv("NOCTURO_MODEM_LOG")) {
        previous_ = before;
        had_previous_ = true;
    }
    setenv("NOCTURO_MODEM_LOG", path_.c_str(), 1);
}

ModemLog::~ModemLog() {
    if (had_previous_) {
        setenv("NOCTURO_MODEM_LOG", previous_.c_str(), 1);
    } else {
        unsetenv("NOCTURO_MODEM_LOG");
    }
    ::unlink(path_.c_str());
}

std::vector<ModemEvent> ModemLog::events(const std::string& device) const {
    std::vector<ModemEvent> found;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ModemEvent event{};
        std::string dev;
        fields >> event.ns >> dev;
        std::getline(fields >> std::ws, event.what);
        if (dev == device) {
            found.push_back(event);
        }
    }
    return found;
}

bool emulated() {
    return *NOCTURO_EMULATOR != '\0';
}

std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

namespace {

pid_t spawn(const std::vector<std::string>& args, const posix_spawn_file_actions_t* actions,
            bool emulated = true, const posix_spawnattr_t* attributes = nullptr) {
    std::vector<std::string> command;
    std::istringstream emulator(emulated ? NOCTURO_EMULATOR : "");
    for (std::string word; emulator >> word;) {
        command.push_back(word);
    }
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], actions, attributes, argv.data(), environ) == 0 ? pid : -1;
}

} // namespace

int start_program(const std::vector<std::string>& args) {
    return spawn(args, nullptr);
}

int start_job(const std::vector<std::string>& args) {
    posix_spawnattr_t job;
    posix_spawnattr_init(&job);
    posix_spawnattr_setflags(&job, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&job, 0);
    const pid_t pid = spawn(args, nullptr, true, &job);
    posix_spawnattr_destroy(&job);
    return pid;
}

int start_system_program(const std::vector<std::string>& args) {
    return spawn(args, nullptr, false);
}

std::string run_program(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0) {
        return "failed";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const pid_t pid = spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string got;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return "failed";
    }
    return got;
}

} // namespace nocturo::testing_support
