# SPDX-License-Identifier: MIT
# Cross build for 32-bit big-endian MIPS, Linux. The device is little-endian;
# this build runs the same test suites on the other byte order, so that code
# which silently depends on the host's byte order fails a test (the lcr image
# tests compare whole images with fixed bytes).
set(DEVTOOLS_TARGET_TRIPLE mips-linux-gnu)
set(DEVTOOLS_TARGET_EMULATOR qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
