#include "fakes/fixed_ports.h"
#include "platform/os/comm_control.h"
#include "platform/os/serial_line.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace nocturo {
namespace {

using testing_support::ModemEvent;
using testing_support::ModemLog;
using testing_support::Pty;

std::vector<std::string> whats(const std::vector<ModemEvent>& events) {
    std::vector<std::string> out;
    for (const ModemEvent& e : events) {
        out.push_back(e.what);
    }
    return out;
}

TEST(SerialLine, ReleasesWhatTheOpenRaisedThenRaisesDtrAndReleasesItBeforeClosing) {
    ModemLog log;
    Pty pty;
    {
        SerialLine line;
        line.open(1, pty.slave());
        line.set_dtr(true);
        line.close();
        EXPECT_FALSE(line.is_open());
    }
    // The kernel raises both lines as the port opens.
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "RTS 1", "DTR 0", "RTS 0", "DTR 1",
                                        "DTR 0", "close"}));
}

TEST(SerialLine, LetsGoOfThePortWhenDestroyedWithDtrRaised) {
    ModemLog log;
    Pty pty;
    {
        SerialLine line;
        line.open(1, pty.slave(), SerialLine::KeepDtr::Yes);
    }
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "RTS 1", "RTS 0", "DTR 0", "close"}));
}

// The driver raises DTR and RTS as the speed of a port another program left
// at B0 leaves it; RTS goes down again, and DTR stays up for the exposure.
TEST(SerialLine, LeavesUpOnlyTheDtrAnExposureWantsOfAPortLeftAtB0) {
    ModemLog log;
    Pty pty;
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::cfsetospeed(&tio, B0);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);
    ::close(fd);
    SerialLine line;
    line.open(1, pty.slave(), SerialLine::KeepDtr::Yes);
    line.set_dtr(true);
    line.close();
    std::vector<std::string> lines = whats(log.events(pty.slave()));
    lines.erase(lines.begin(), std::find(lines.rbegin(), lines.rend(), "open").base());
    EXPECT_EQ(lines, (std::vector<std::string>{"DTR 1", "RTS 1", "RTS 0", "DTR 0", "close"}));
}

TEST(ModemRecorder, TheLastCloseDropsBothLinesAsARealPortDoes) {
    ModemLog log;
    Pty pty;
    const int fd = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ASSERT_EQ(::ioctl(fd, TIOCMBIS, &lines), 0);
    int state = 0;
    ASSERT_EQ(::ioctl(fd, TIOCMGET, &state), 0);
    EXPECT_EQ(state & lines, lines);
    ::close(fd);
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "RTS 1", "DTR 0", "RTS 0", "close"}));
}

// The error opening device raises; a failure of the test where it raises none.
template <typename Open> SerialError error_of(int row, const std::string& device, Open open) {
    try {
        open();
    } catch (const SerialError& e) {
        return e;
    }
    ADD_FAILURE() << "opened " << device;
    return SerialError(SerialError::Reason::Other, row, device, "");
}

SerialError open_error(int row, const std::string& device) {
    SerialLine line;
    const SerialError e = error_of(row, device, [&] { line.open(row, device); });
    EXPECT_FALSE(line.is_open());
    return e;
}

// What an exposure meets as it opens the device at Com1: the claims on it,
// with its holders read ahead to the end or, late, only once it is open;
// and the line.
SerialError exposure_error(const std::string& device, const ClaimPlaces& places, bool ahead) {
    fakes::FixedPorts ports({{device, ""}});
    PortDirectory directory(ports);
    fakes::NoAlarm alarm;
    CommControl comm(directory, alarm, places);
    const auto read = [&comm] {
        while (!comm.read_ahead(1, std::chrono::seconds(1))) {
        }
    };
    return error_of(1, device, [&] {
        ahead ? read() : void();
        comm.set_port_open(true);
        read();
        comm.check_line();
    });
}

TEST(SerialLine, AMissingDeviceIsReportedWithTheRowTheDeviceAndTheReason) {
    const SerialError e = open_error(3, "/tmp/nocturo-no-such-port");
    EXPECT_EQ(e.reason(), SerialError::Reason::NoSuchPort);
    const std::string text = e.what();
    EXPECT_NE(text.find("Com3 (/tmp/nocturo-no-such-port)"), std::string::npos) << text;
    EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    EXPECT_NE(text.find("plugged in"), std::string::npos) << text;
}

enum class Holder {
    Flock,
    LockFile,
    FlockHiddenFromUs,
    Exclusive,
    LocksUnreadable,
    NoLock,
    // Lock files that are none, or not to be read: anyone may write in the folder.
    LockFifo,
    LockLinkToZero,
    LockBinaryPid,
    LockFourBytesOfText,
    LockUnreadable,
    LockOfNoText,
    LockAbovePidMax,
    LockOfThisProcess,
};

struct HeldCase {
    const char* name;
    Holder holder;
    const char* says;  // how the message tells it
    bool ahead = true; // its holders are read before the open
};

class PortOfAnotherProgram : public testing::TestWithParam<HeldCase> {};

// Another program has the port open, with its lines lowered, and holds it by
// a flock, seen in the list of locks or not (in another PID namespace, or
// where its open files cannot be read), by a UUCP lock file or by exclusive
// mode (which root passes), or by nothing more. Its lines stay as it left
// them, unless the port is found held only once open: then they are put
// back at once, and the message says so.
TEST_P(PortOfAnotherProgram, IsLeftAloneLinesAndAll) {
    ModemLog log;
    Pty pty;
    const Holder holder = GetParam().holder;
    if (holder == Holder::LockUnreadable && ::geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    const std::string folder = testing::TempDir() + "nocturo-locks-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/no-processes");
    const bool hidden = holder == Holder::FlockHiddenFromUs || holder == Holder::Exclusive;
    const ClaimPlaces places{holder == Holder::Flock ? "/proc/locks" : folder + "/locks",
                             hidden ? folder + "/no-processes" : "/proc", folder};
    if (holder != Holder::LocksUnreadable) {
        std::ofstream(folder + "/locks").flush();
    }
    const std::string lock =
        folder + "/LCK.." + std::filesystem::path(pty.slave()).filename().string();
    // The other program holds the port open, with no recorder of its own.
    const std::string preload = std::getenv("LD_PRELOAD");
    unsetenv("LD_PRELOAD");
    const pid_t other_program = testing_support::start_system_program(
        {"/bin/sh", "-c", "exec 3<>\"$0\"; exec sleep 60", pty.slave()});
    setenv("LD_PRELOAD", preload.c_str(), 1);
    const std::string held = "/proc/" + std::to_string(other_program) + "/fd/3";
    std::error_code ec; // its descriptor 3 may be one it was born with, as make's jobs are
    for (int i = 0; i < 200 && std::filesystem::read_symlink(held, ec) != pty.slave(); ++i) {
        ::usleep(5000);
    }
    const pid_t owner = holder == Holder::LockOfThisProcess ? ::getpid() : other_program;
    if (holder == Holder::LockFile || holder == Holder::LockUnreadable ||
        holder == Holder::LockOfThisProcess) {
        std::ofstream(lock) << owner << "\n";
        ::chmod(lock.c_str(), holder == Holder::LockUnreadable ? 0 : 0644);
    } else if (holder == Holder::LockBinaryPid) {
        std::ofstream(lock).write(reinterpret_cast<const char*>(&owner), sizeof owner);
    } else if (holder == Holder::LockFourBytesOfText) {
        std::ofstream(lock) << "  1\n"; // process 1, which is always there
    } else if (holder == Holder::LockOfNoText || holder == Holder::LockAbovePidMax) {
        std::ofstream(lock) << (holder == Holder::LockOfNoText ? "LCK!" : "9999999999\n");
    } else if (holder == Holder::LockFifo) {
        ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0);
    } else if (holder == Holder::LockLinkToZero) {
        std::filesystem::create_symlink("/dev/zero", lock);
    }
    const int other = ::open(pty.slave().c_str(), O_RDWR);
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(other, TIOCMBIC, &lines);
    int exclusive = 0;
    if (holder == Holder::Exclusive && ::ioctl(other, TIOCGEXCL, &exclusive) != 0) {
        GTEST_SKIP() << "this system cannot tell a port's exclusive mode (qemu-user)";
    }
    if (holder == Holder::Flock || holder == Holder::FlockHiddenFromUs) {
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    } else if (holder == Holder::Exclusive) {
        ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    }

    const std::string said = exposure_error(pty.slave(), places, GetParam().ahead).what();
    ::kill(other_program, SIGKILL);
    ::waitpid(other_program, nullptr, 0);
    std::filesystem::remove_all(folder);
    EXPECT_NE(said.find(GetParam().says), std::string::npos) << said;
    ::ioctl(other, TIOCGEXCL, &exclusive);
    EXPECT_EQ(exclusive, holder == Holder::Exclusive ? 1 : 0);
    std::map<std::string, bool> high;
    int opens = 0;
    for (const std::string& what : whats(log.events(pty.slave()))) {
        opens += what == "open";
        high[what.substr(0, 3)] = what.back() == '1';
    }
    EXPECT_FALSE(high["DTR"] || high["RTS"]) << "as the holder left them";
    EXPECT_EQ(opens > 1, said.find("lowered them again") != std::string::npos) << said;
    ::close(other);
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PortOfAnotherProgram,
    testing::Values(
        HeldCase{"flock", Holder::Flock, "in use by another program (it holds a lock on the port)"},
        HeldCase{"lock_file", Holder::LockFile,
                 "in use by another program (it holds the lock file"},
        HeldCase{"flock_hidden_from_us", Holder::FlockHiddenFromUs, "in use by another program"},
        HeldCase{"exclusive", Holder::Exclusive, "in use by another program"},
        HeldCase{"locks_unreadable", Holder::LocksUnreadable,
                 "cannot tell whether another program is using it"},
        HeldCase{"no_lock", Holder::NoLock, "has it open"},
        HeldCase{"no_lock_read_late", Holder::NoLock, "has it open", false},
        HeldCase{"lock_fifo", Holder::LockFifo, "is not a file"},
        HeldCase{"lock_link_to_dev_zero", Holder::LockLinkToZero, "cannot be read"},
        HeldCase{"lock_binary_pid", Holder::LockBinaryPid, "it holds the lock file"},
        HeldCase{"lock_four_bytes_of_text", Holder::LockFourBytesOfText, "as process 1"},
        HeldCase{"lock_unreadable", Holder::LockUnreadable, "cannot be read"},
        HeldCase{"lock_of_no_text", Holder::LockOfNoText, "holds no process number"},
        HeldCase{"lock_above_pid_max", Holder::LockAbovePidMax, "holds no process number"},
        HeldCase{"lock_of_this_process", Holder::LockOfThisProcess, "has it open"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SerialLine, ADeviceThatRefusesItsLinesIsReportedAndLeftClosed) {
    ModemLog log;
    Pty pty;
    setenv("NOCTURO_MODEM_REFUSE", "1", 1);
    const SerialError e = open_error(4, pty.slave());
    unsetenv("NOCTURO_MODEM_REFUSE");
    EXPECT_EQ(e.reason(), SerialError::Reason::LinesRefused);
    EXPECT_NE(std::string(e.what()).find("Com4"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("refused to switch its DTR line"), std::string::npos);
    EXPECT_EQ(whats(log.events(pty.slave())), (std::vector<std::string>{"open", "close"}));
}

// The program of another user, beside this one.
std::string other_user() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "other_user").string();
}

// "<reason>|<message>" of opening the device with the serial line in a
// program of another user, or "-1|opened".
std::string open_as_another_user(const std::string& device) {
    return testing_support::run_program({other_user(), "serial", device});
}

// errno of a plain open, as a program that takes no lock makes it; 0 if it opened.
std::string plain_open_as_another_user(const std::string& device) {
    return testing_support::run_program({other_user(), "plain", device});
}

std::string reason_text(SerialError::Reason reason) {
    return std::to_string(static_cast<int>(reason)) + "|";
}

TEST(SerialLine, PermissionDeniedTellsALinuxUserToJoinTheDialoutGroup) {
    Pty pty;
    // Root is let in anyway, so another user meets a port for its owner
    // alone; a normal user meets one that gives even its owner nothing.
    ASSERT_EQ(::chmod(pty.slave().c_str(), ::geteuid() == 0 ? 0600 : 0000), 0);
    const std::string got = open_as_another_user(pty.slave());
    EXPECT_EQ(got.rfind(reason_text(SerialError::Reason::PermissionDenied), 0), 0u) << got;
    EXPECT_NE(got.find("permission denied"), std::string::npos) << got;
    EXPECT_NE(got.find("dialout"), std::string::npos) << got;
}

TEST(SerialLine, AnOpenPortIsOursAloneUntilItIsClosed) {
    Pty pty;
    ASSERT_EQ(::chmod(pty.slave().c_str(), 0666), 0);
    SerialLine line;
    line.open(1, pty.slave());
    // A second Nocturo, a terminal program or a modem prober.
    const std::string second = open_as_another_user(pty.slave());
    EXPECT_EQ(second.rfind(reason_text(SerialError::Reason::Busy), 0), 0u) << second;
    EXPECT_NE(second.find("in use by another program"), std::string::npos) << second;
    EXPECT_EQ(plain_open_as_another_user(pty.slave()), std::to_string(EBUSY));
    line.close();
    EXPECT_EQ(open_as_another_user(pty.slave()), "-1|opened");
    EXPECT_EQ(plain_open_as_another_user(pty.slave()), "0");
}

TEST(SerialLine, APulledAdapterIsSeenByTheCheckAndNamedAsSuch) {
    ModemLog log;
    Pty pty;
    SerialLine line;
    line.open(2, pty.slave());
    line.set_dtr(true);
    EXPECT_NO_THROW(line.check());
    pty.hang_up();
    try {
        line.check();
        FAIL() << "the hang-up went unseen";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.reason(), SerialError::Reason::Lost);
        const std::string text = e.what();
        EXPECT_NE(text.find("Com2 (" + pty.slave() + ") is no longer there"), std::string::npos)
            << text;
        EXPECT_NE(text.find("unplugged"), std::string::npos) << text;
        EXPECT_NE(text.find("Plug the adapter back in"), std::string::npos) << text;
    }
    EXPECT_THROW(line.close(), SerialError) << "a hung-up line cannot be released";
    EXPECT_FALSE(line.is_open());
}

TEST(CommControl, ARowThatReachesNoPortIsReportedByItsName) {
    fakes::FixedPorts ports({});
    PortDirectory directory(ports);
    fakes::NoAlarm alarm;
    CommControl comm(directory, alarm);
    comm.set_comm_port(5);
    comm.set_settings("9600,N,8,1");
    try {
        comm.set_port_open(true);
        FAIL() << "opened";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.reason(), SerialError::Reason::NoSuchPort);
        EXPECT_NE(std::string(e.what()).find("Com5 is not connected"), std::string::npos);
    }
    EXPECT_FALSE(comm.port_open());
}

TEST(CommControl, DrivesDtrOnlyWhileOpenAndReleasesItOnClose) {
    ModemLog log;
    Pty pty;
    fakes::FixedPorts ports({{"/tmp/nocturo-no-such-port", ""}, {pty.slave(), ""}});
    PortDirectory directory(ports);
    fakes::NoAlarm alarm;
    CommControl comm(directory, alarm);
    comm.set_comm_port(2);
    comm.set_settings("9600,N,8,1");
    comm.set_port_open(true);
    EXPECT_TRUE(comm.port_open());
    comm.set_dtr_enable(true);
    comm.set_port_open(false);
    EXPECT_FALSE(comm.port_open());
    comm.set_dtr_enable(false);
    // The DTR line the open raised stays up for the exposure: no pulse.
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "RTS 1", "RTS 0", "DTR 0", "close"}));
    EXPECT_THROW(comm.set_settings("1200,E,7,2"), RunTimeError);
}

} // namespace
} // namespace nocturo
