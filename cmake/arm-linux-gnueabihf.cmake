# 32-bit ARM (Debian's armhf: ARMv7 with hard float): a Raspberry Pi 2 or
# later with a 32-bit system. char is unsigned there, long and time_t 32 bits.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NOCTURO_TRIPLET arm-linux-gnueabihf)
set(NOCTURO_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
