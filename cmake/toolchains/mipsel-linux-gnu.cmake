# SPDX-License-Identifier: MIT
# Cross build for the device: 32-bit little-endian MIPS, Linux.
set(DEVTOOLS_TARGET_TRIPLE mipsel-linux-gnu)
set(DEVTOOLS_TARGET_EMULATOR qemu-mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
