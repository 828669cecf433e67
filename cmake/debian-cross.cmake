# Cross-compiling for Linux on ARM with Debian's cross compilers and its
# multiarch libraries (Qt of the target architecture installed beside the
# machine's own). Included by the toolchain files that name the target; the
# programs built run under qemu-user, which the tests call explicitly, so no
# binfmt handler is needed on the machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${NOCTURO_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${NOCTURO_TRIPLET}-g++)
# Multiarch: the target's libraries and CMake packages lie in
# /usr/lib/<triplet>; the C and C++ runtimes of the cross compilers in
# /usr/<triplet>.
set(CMAKE_LIBRARY_ARCHITECTURE ${NOCTURO_TRIPLET})
# The target's own C library where its multiarch one is installed, else the
# cross compiler's. Never a mix of the two: a loader and a C library from
# different builds of it hang in fork when the machine is busy.
if(EXISTS /lib/${NOCTURO_TRIPLET}/libc.so.6)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${NOCTURO_QEMU})
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${NOCTURO_QEMU} -L /usr/${NOCTURO_TRIPLET})
endif()
