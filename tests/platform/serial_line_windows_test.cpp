// The Windows serial line on COM1, which the checks point at a
// pseudo-terminal whose modem lines are recorded on the other side; COM9
// reaches no device. The order of the line changes is read from that record.

#include "platform/os/serial_line.h"

#include <gtest/gtest.h>

#include <chrono>
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

} // namespace
} // namespace nocturo
