#include "fakes/fixed_ports.h"
#include "platform/os/comm_control.h"
#include "platform/os/serial_line.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST(SerialLine, RaisesDtrAfterOpeningReleasesItBeforeClosingAndNeverRaisesRts) {
    ModemLog log;
    Pty pty;
    {
        SerialLine line;
        line.open(1, pty.slave());
        line.set_dtr(true);
        line.close();
        EXPECT_FALSE(line.is_open());
    }
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "DTR 0", "close"}));
}

TEST(SerialLine, LetsGoOfThePortWhenDestroyedWithDtrRaised) {
    ModemLog log;
    Pty pty;
    {
        SerialLine line;
        line.open(1, pty.slave());
        line.set_dtr(true);
    }
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "DTR 0", "close"}));
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

SerialError open_error(int row, const std::string& device) {
    SerialLine line;
    try {
        line.open(row, device);
    } catch (const SerialError& e) {
        EXPECT_FALSE(line.is_open());
        return e;
    }
    ADD_FAILURE() << "opened " << device;
    return SerialError(SerialError::Reason::Other, row, device, "");
}

TEST(SerialLine, AMissingDeviceIsReportedWithTheRowTheDeviceAndTheReason) {
    const SerialError e = open_error(3, "/tmp/nocturo-no-such-port");
    EXPECT_EQ(e.reason(), SerialError::Reason::NoSuchPort);
    const std::string text = e.what();
    EXPECT_NE(text.find("Com3 (/tmp/nocturo-no-such-port)"), std::string::npos) << text;
    EXPECT_NE(text.find("No such file or directory"), std::string::npos) << text;
    EXPECT_NE(text.find("plugged in"), std::string::npos) << text;
}

TEST(SerialLine, APortHeldByAnotherProgramIsReportedBusyAndNothingIsAsserted) {
    ModemLog log;
    Pty pty;
    const int holder = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const SerialError e = open_error(2, pty.slave());
    EXPECT_EQ(e.reason(), SerialError::Reason::Busy);
    EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos);
    ::close(holder);
    for (const ModemEvent& event : log.events(pty.slave())) {
        EXPECT_NE(event.what, "DTR 1");
        EXPECT_NE(event.what, "RTS 1");
    }
}

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

TEST(SerialLine, PermissionDeniedTellsALinuxUserToJoinTheDialoutGroup) {
    Pty pty;
    ASSERT_EQ(::chmod(pty.slave().c_str(), 0600), 0);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Someone who does not own the device; root would be let in anyway.
        if (::geteuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                ::_exit(2);
            }
        } else if (::chmod(pty.slave().c_str(), 0) != 0) {
            ::_exit(3);
        }
        std::string message = "opened";
        int reason = -1;
        try {
            SerialLine line;
            line.open(5, pty.slave());
        } catch (const SerialError& e) {
            message = e.what();
            reason = static_cast<int>(e.reason());
        }
        const std::string out = std::to_string(reason) + "|" + message;
        (void)!::write(pipe_fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(pipe_fds[1]);
    std::string got;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
        got.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(got.substr(0, got.find('|')),
              std::to_string(static_cast<int>(SerialError::Reason::PermissionDenied)));
    EXPECT_NE(got.find("permission denied"), std::string::npos) << got;
    EXPECT_NE(got.find("dialout"), std::string::npos) << got;
}

TEST(CommControl, ARowThatReachesNoPortIsReportedByItsName) {
    fakes::FixedPortDirectory ports({});
    CommControl comm(ports);
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
    fakes::FixedPortDirectory ports({{2, {pty.slave(), ""}}});
    CommControl comm(ports);
    comm.set_comm_port(2);
    comm.set_settings("9600,N,8,1");
    comm.set_port_open(true);
    EXPECT_TRUE(comm.port_open());
    comm.set_dtr_enable(true);
    comm.set_port_open(false);
    EXPECT_FALSE(comm.port_open());
    comm.set_dtr_enable(false);
    EXPECT_EQ(whats(log.events(pty.slave())),
              (std::vector<std::string>{"open", "DTR 1", "DTR 0", "close"}));
    EXPECT_THROW(comm.set_settings("1200,E,7,2"), RunTimeError);
}

} // namespace
} // namespace nocturo
