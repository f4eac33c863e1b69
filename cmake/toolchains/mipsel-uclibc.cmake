# SPDX-License-Identifier: MIT
# Cross build for the device against its own C library, uClibc-ng: 32-bit
# little-endian MIPS32 release 1, Linux. The library is built beforehand, by
# scripts/build-uclibc.sh (a few minutes, once), into build/uclibc/root;
# configuring only looks for it, and stops with the command to run when it is
# not there.
#
# Debian's mipsel-linux-gnu compiler is used without its glibc: -nostdinc
# and -nostdlib, then the library's headers and objects, GCC's own headers
# and libgcc, and libstdc++'s headers (header-only facilities; the programs
# link no libstdc++) are named one by one. --sysroot alone would still let
# glibc's folders and g++'s implicit -lm in.
#
# DEVTOOLS_STATIC links statically (the flash board); otherwise the programs
# need libc.so.1 and start through /lib/ld-uClibc.so.1, as on the device.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(triple mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${triple}-g++)

get_filename_component(devtools_root ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
# The tree build/uclibc/root links to when the build is configured; the
# build keeps it when a later run of the script builds a tree of other
# settings. Read by scripts/check-device-build.sh.
if(NOT DEVTOOLS_UCLIBC_ROOT AND EXISTS ${devtools_root}/build/uclibc/root/.complete)
  file(REAL_PATH ${devtools_root}/build/uclibc/root root)
  set(DEVTOOLS_UCLIBC_ROOT ${root} CACHE PATH "uClibc-ng target tree (scripts/build-uclibc.sh)")
endif()
if(NOT EXISTS "${DEVTOOLS_UCLIBC_ROOT}/.complete")
  message(FATAL_ERROR "no uClibc-ng library in ${devtools_root}/build/uclibc/root: "
    "build it first with scripts/build-uclibc.sh (a few minutes, once)")
endif()
set(root ${DEVTOOLS_UCLIBC_ROOT})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEVTOOLS_STATIC DEVTOOLS_UCLIBC_ROOT)

execute_process(COMMAND ${CMAKE_C_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(gccdir ${libgcc} DIRECTORY)
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpversion
  OUTPUT_VARIABLE gccversion OUTPUT_STRIP_TRAILING_WHITESPACE)
set(cxxinc /usr/${triple}/include/c++/${gccversion})

set(arch_flags "-march=mips32 -fno-pie")
set(c_includes "-nostdinc -isystem ${gccdir}/include -isystem ${root}/usr/include")
set(CMAKE_C_FLAGS_INIT "${arch_flags} ${c_includes}")
set(CMAKE_CXX_FLAGS_INIT "${arch_flags} -nostdinc -isystem ${cxxinc} -isystem ${cxxinc}/${triple} -isystem ${cxxinc}/backward -isystem ${gccdir}/include -isystem ${root}/usr/include -include ${devtools_root}/cmake/uclibc/libstdcxx-compat.h")

# The link rules name every start file and library; the C library sits in
# the rule because CMake's compiler check clears CMAKE_CXX_STANDARD_LIBRARIES.
# libmips32helpers.a (from the build script) comes ahead of libgcc.a: it
# holds release 1 versions of libgcc's byte-swap helpers.
set(lib ${root}/usr/lib)
set(tail "${lib}/libmips32helpers.a -L${lib} -lc ${libgcc}")
if(DEVTOOLS_STATIC)
  set(start "${lib}/crt1.o ${lib}/crti.o ${gccdir}/crtbeginT.o")
  set(mode "-static")
else()
  set(start "${lib}/crt1.o ${lib}/crti.o ${gccdir}/crtbegin.o")
  set(mode "-Wl,--dynamic-linker=/lib/ld-uClibc.so.1")
endif()
set(end "${gccdir}/crtend.o ${lib}/crtn.o")
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_${lang}_COMPILER> <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> -no-pie -nostdlib --sysroot=${root} ${mode} ${start} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${tail} ${end}")
  set(CMAKE_${lang}_CREATE_SHARED_LIBRARY
    "<CMAKE_${lang}_COMPILER> <CMAKE_SHARED_LIBRARY_${lang}_FLAGS> <LANGUAGE_COMPILE_FLAGS> <LINK_FLAGS> <CMAKE_SHARED_LIBRARY_CREATE_${lang}_FLAGS> -nostdlib --sysroot=${root} <SONAME_FLAG><TARGET_SONAME> -o <TARGET> ${lib}/crti.o ${gccdir}/crtbeginS.o <OBJECTS> <LINK_LIBRARIES> ${tail} ${gccdir}/crtendS.o ${lib}/crtn.o")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel;-L;${root})
