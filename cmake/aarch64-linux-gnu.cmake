# 64-bit ARM (Debian's arm64): a Raspberry Pi 3, 4 or 5 with a 64-bit system.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NOCTURO_TRIPLET aarch64-linux-gnu)
set(NOCTURO_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
