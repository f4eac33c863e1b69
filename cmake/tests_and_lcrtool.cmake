# SPDX-License-Identifier: MIT
# Whether the build has the test suites and lcrtool, and what it installs.
# DEVTOOLS_TESTS and DEVTOOLS_LCRTOOL are AUTO, ON or OFF; AUTO decides from
# the build, so that a cross build configured with nothing but a compiler
# (as a packager's build system does) builds and installs only the device
# programs, burnimg and lcrmerge:
#
#   BUILD_TESTING     CTest's switch, as distributions pass it: when set,
#                     it decides, as DEVTOOLS_TESTS ON or OFF would; both
#                     set and disagreeing is an error.
#   DEVTOOLS_TESTS    AUTO: on when the build can run what it builds
#                     (natively, or through CMAKE_CROSSCOMPILING_EMULATOR)
#                     and lcrtool is not turned off; ON where the build
#                     cannot run them is an error, not a build that fails
#                     when test discovery runs a target program.
#   DEVTOOLS_LCRTOOL  AUTO: built and installed natively; a cross build
#                     installs it only when asked (ON), and builds it when
#                     the tests start it.
#   DEVTOOLS_UPDATE_SCRIPTS
#                     installs the update scripts of examples/ into sbin;
#                     the table script runs lcrtool, so it implies
#                     DEVTOOLS_LCRTOOL=ON.
#
# Sets devtools_tests, devtools_lcrtool (built) and devtools_install_lcrtool
# (ON or OFF) for the rest of the build.
set(DEVTOOLS_TESTS AUTO CACHE STRING "Build the test suites: AUTO (when the build can run them), ON or OFF")
set(DEVTOOLS_LCRTOOL AUTO CACHE STRING "Build and install lcrtool: AUTO (natively), ON (in a cross build too: lcrtool for the device) or OFF")
set_property(CACHE DEVTOOLS_TESTS DEVTOOLS_LCRTOOL PROPERTY STRINGS AUTO ON OFF)
option(DEVTOOLS_UPDATE_SCRIPTS "Install the update scripts of examples/ into sbin (and lcrtool, which they run)" OFF)

# The project's libraries are parts of its programs, linked statically and
# never installed, so a distribution's BUILD_SHARED_LIBS changes nothing.
if(BUILD_SHARED_LIBS)
  message(STATUS "BUILD_SHARED_LIBS=ON changes nothing: the programs link their own parts statically, and no library is installed")
endif()

# choice_value(NAME OUT): AUTO, ON or OFF from what NAME holds.
function(choice_value name out)
  string(TOUPPER "${${name}}" value)
  if(value STREQUAL "AUTO" OR value STREQUAL "")
    set(${out} AUTO PARENT_SCOPE)
  elseif(${name})
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
  set(can_run ON)
else()
  set(can_run OFF)
endif()

choice_value(DEVTOOLS_TESTS devtools_tests)
choice_value(DEVTOOLS_LCRTOOL devtools_lcrtool)
set(tests_switch DEVTOOLS_TESTS)
if(DEFINED BUILD_TESTING)
  if(BUILD_TESTING)
    set(wanted ON)
  else()
    set(wanted OFF)
  endif()
  if(NOT devtools_tests STREQUAL "AUTO" AND NOT devtools_tests STREQUAL wanted)
    message(FATAL_ERROR "BUILD_TESTING=${BUILD_TESTING} and DEVTOOLS_TESTS=${DEVTOOLS_TESTS} disagree; "
      "give one of them, or both the same (cmake -U BUILD_TESTING drops a cached one)")
  endif()
  set(devtools_tests ${wanted})
  set(tests_switch BUILD_TESTING)
endif()

if(DEVTOOLS_UPDATE_SCRIPTS)
  if(devtools_lcrtool STREQUAL "OFF")
    message(FATAL_ERROR "DEVTOOLS_UPDATE_SCRIPTS=ON installs the table script, which runs lcrtool: "
      "set DEVTOOLS_LCRTOOL=ON (or leave it AUTO)")
  endif()
  set(devtools_lcrtool ON)
endif()

if(devtools_tests STREQUAL "AUTO")
  if(NOT can_run)
    set(devtools_tests OFF)
    message(STATUS "Tests off: a cross build without CMAKE_CROSSCOMPILING_EMULATOR cannot run them")
  elseif(devtools_lcrtool STREQUAL "OFF")
    set(devtools_tests OFF)
    message(STATUS "Tests off: they start lcrtool, and DEVTOOLS_LCRTOOL is OFF")
  else()
    set(devtools_tests ON)
  endif()
elseif(NOT devtools_tests)
  message(STATUS "Tests off: ${tests_switch} is OFF")
elseif(NOT can_run)
  message(FATAL_ERROR "${tests_switch}=ON: the tests of a cross build run through an emulator; "
    "set CMAKE_CROSSCOMPILING_EMULATOR (for instance \"qemu-mipsel;-L;/usr/mipsel-linux-gnu\"), "
    "or ${tests_switch}=OFF")
elseif(devtools_lcrtool STREQUAL "OFF")
  message(FATAL_ERROR "the tests start lcrtool: set DEVTOOLS_LCRTOOL=ON, or ${tests_switch}=OFF")
endif()

# A cross build installs lcrtool only when asked for; the tests may still
# build it for their own use.
if(devtools_lcrtool STREQUAL "AUTO")
  if(CMAKE_CROSSCOMPILING)
    set(devtools_install_lcrtool OFF)
    set(devtools_lcrtool ${devtools_tests})
  else()
    set(devtools_install_lcrtool ON)
    set(devtools_lcrtool ON)
  endif()
else()
  set(devtools_install_lcrtool ${devtools_lcrtool})
endif()
