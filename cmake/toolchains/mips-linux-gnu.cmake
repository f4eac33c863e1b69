# Cross build for 32-bit big-endian MIPS, Linux. The device is little-endian;
# this build runs the same test suites on the other byte order, so that code
# which silently depends on the host's byte order fails a test (the lcr image
# tests compare whole images with fixed bytes).
#
# Debian's mips-linux-gnu cross compiler links against its own copy of the
# target's C library under /usr/mips-linux-gnu. Test programs and the
# programs they start run on the build machine through qemu's user-mode
# emulator, with -L pointing it at that same tree for the dynamic loader and
# the shared libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(DEVTOOLS_TARGET_TRIPLE mips-linux-gnu)
set(CMAKE_C_COMPILER ${DEVTOOLS_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${DEVTOOLS_TARGET_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${DEVTOOLS_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips;-L;/usr/${DEVTOOLS_TARGET_TRIPLE})
