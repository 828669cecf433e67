// Another program on the same port, run by another, unprivileged user when
// started as root (root would be let in anyway). It opens DEVICE as
// Nocturo's serial line does ("serial") or as a program that takes no lock
// does ("plain"), and prints what came of it:
//
//   other_user serial DEVICE   "<reason>|<message>", or "-1|opened"
//   other_user plain DEVICE    errno of the open, or 0 if it opened
//
// A program of its own, not a forked test, so that it runs alike wherever
// the tests run, under an emulator too.

#include "platform/os/serial_line.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 3 || (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))) {
        return 2;
    }
    const std::string device = argv[2];
    if (std::string(argv[1]) == "plain") {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        std::printf("%d", fd >= 0 ? 0 : errno);
        return 0;
    }
    try {
        nocturo::SerialLine line;
        line.open(5, device);
    } catch (const nocturo::SerialError& e) {
        std::printf("%d|%s", static_cast<int>(e.reason()), e.what());
        return 0;
    }
    std::printf("-1|opened");
    return 0;
}
