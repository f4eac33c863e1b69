# SPDX-License-Identifier: MIT
# What the cross toolchain files share; each sets DEVTOOLS_TARGET_TRIPLE and
# DEVTOOLS_TARGET_EMULATOR and includes this file. Not a toolchain file of
# its own.
#
# Debian's cross compiler for a triple links against its own copy of the
# target's C library under /usr/<triple>. Test programs and the programs
# they start run on the build machine through qemu's user-mode emulator,
# with -L pointing it at that same tree for the dynamic loader and the
# shared libraries.
if(NOT DEVTOOLS_TARGET_TRIPLE OR NOT DEVTOOLS_TARGET_EMULATOR)
  message(FATAL_ERROR "set DEVTOOLS_TARGET_TRIPLE and DEVTOOLS_TARGET_EMULATOR before including ${CMAKE_CURRENT_LIST_FILE}")
endif()

set(CMAKE_SYSTEM_NAME Linux)
# The processor is the triple's first part (mips, mipsel).
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${DEVTOOLS_TARGET_TRIPLE}")

set(CMAKE_C_COMPILER ${DEVTOOLS_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${DEVTOOLS_TARGET_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${DEVTOOLS_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${DEVTOOLS_TARGET_EMULATOR};-L;/usr/${DEVTOOLS_TARGET_TRIPLE})
