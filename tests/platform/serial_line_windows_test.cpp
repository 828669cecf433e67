// The Windows serial line on COM1, which the checks point at a
// pseudo-terminal whose modem lines are recorded on the other side; COM9
// reaches no device. The order of the line changes is read from that record.
// The checks also write a device tree into the registry (DEVICE_TREE in
// scripts/wine_checks.py), which Wine's SetupAPI answers from: beside COM1 a
// printer port and a virtual pair.

#include "platform/os/serial_windows.h"
#include "platform/os/windows_ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace nocturo {
namespace {

const std::string kCom1 = R"(\\.\COM1)";

SerialError open_error(int row, const std::string& device) {
    try {
        SerialLine line;
        line.open(row, device);
    } catch (const SerialError& e) {
        return e;
    }
    throw std::runtime_error(device + " opened");
}

TEST(WindowsSerialLine, RaisesDtrAfterOpeningAndReleasesItBeforeClosing) {
    SerialLine line;
    line.open(1, kCom1);
    EXPECT_NO_THROW(line.check());
    line.set_dtr(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    line.set_dtr(false);
    line.close();
    EXPECT_FALSE(line.is_open());
}

// At a logoff the lines drop at once, and the port is still closed once,
// cleanly, on the way out.
TEST(WindowsSerialLine, TheSessionEndLowersTheLinesAndLeavesTheCloseToTheLine) {
    SerialLine line;
    line.open(1, kCom1);
    line.set_dtr(true);
    lower_serial_lines();
    EXPECT_TRUE(line.is_open());
    EXPECT_NO_THROW(line.close());
}

struct UseError {
    DWORD error;
    bool lost; // the check ends the run
};

class ErrorsInUse : public testing::TestWithParam<UseError> {};

TEST_P(ErrorsInUse, OnlyADeviceThatWentAwayEndsTheRun) {
    EXPECT_EQ(reason_for_use(GetParam().error) == SerialError::Reason::Lost, GetParam().lost);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, ErrorsInUse,
    testing::Values(UseError{ERROR_DEVICE_REMOVED, true}, UseError{ERROR_BAD_COMMAND, true},
                    UseError{ERROR_ACCESS_DENIED, true}, UseError{ERROR_DEVICE_NOT_CONNECTED, true},
                    UseError{ERROR_INVALID_FUNCTION, false}, UseError{ERROR_NOT_SUPPORTED, false},
                    UseError{ERROR_INVALID_PARAMETER, false}));

TEST(WindowsSerialLine, NoSettingOfTheProgramBeforeIsKept) {
    DCB dcb;
    std::memset(&dcb, 0xff, sizeof dcb); // every flag set, as another program may leave them
    apply_line_settings(dcb);
    const struct {
        const char* name;
        DWORD got;
        DWORD want;
    } fields[] = {{"BaudRate", dcb.BaudRate, CBR_9600},
                  {"ByteSize", dcb.ByteSize, 8},
                  {"fOutxCtsFlow", dcb.fOutxCtsFlow, FALSE},
                  {"fOutX", dcb.fOutX, FALSE},
                  {"fDtrControl", dcb.fDtrControl, DTR_CONTROL_DISABLE},
                  {"fRtsControl", dcb.fRtsControl, RTS_CONTROL_DISABLE},
                  {"fAbortOnError", dcb.fAbortOnError, FALSE}};
    for (const auto& field : fields) {
        EXPECT_EQ(field.got, field.want) << field.name;
    }
}

TEST(WindowsSerialLine, APortThatDoesNotExistIsNamedAsSuch) {
    const SerialError e = open_error(9, R"(\\.\COM9)");
    EXPECT_EQ(e.reason(), SerialError::Reason::NoSuchPort) << e.what();
    EXPECT_NE(std::string(e.what()).find(R"(Com9 (\\.\COM9) could not be opened)"),
              std::string::npos)
        << e.what();
}

TEST(WindowsSerialLine, APortAlreadyOpenIsInUseByAnotherProgram) {
    SerialLine first;
    first.open(1, kCom1);
    const SerialError e = open_error(1, kCom1);
    EXPECT_EQ(e.reason(), SerialError::Reason::Busy) << e.what();
    EXPECT_NE(std::string(e.what()).find("is in use by another program"), std::string::npos)
        << e.what();
}

// An FTDI adapter at COM1, a PL2303 whose driver refuses it and a CH340 with
// no driver: the port list's tooltip names the one and explains the others.
TEST(WindowsDeviceTree, NamesTheAdapterAndExplainsThoseThatGotNoPort) {
    SystemPorts ports;
    PortDirectory directory(ports);
    directory.fix(1);
    EXPECT_EQ(directory.describe(1), "Com1: COM1, USB Serial Port, FTDI, serial A50285BI");
    directory.fix(2);
    const std::string empty = directory.describe(2);
    EXPECT_NE(empty.find("(067b:2303) is plugged in but has no serial port: Prolific's driver "
                         "refuses this chip"),
              std::string::npos)
        << empty;
    EXPECT_NE(empty.find("USB2.0-Serial (1a86:7523) is plugged in but has no serial port: Windows "
                         "has no driver for it (Device Manager code 28)"),
              std::string::npos)
        << empty;
    // A printer port and a virtual pair stand at no row.
    EXPECT_NE(empty.find("Left out:\nLPT1 (ECP Printer Port): a printer port"), std::string::npos)
        << empty;
    EXPECT_NE(empty.find("\nCNCA0 (com0com - serial port emulator): a virtual port"),
              std::string::npos)
        << empty;
}

} // namespace
} // namespace nocturo
