# Whether the build has the test suites and lcrtool. Both are AUTO, ON or
# OFF; AUTO decides from the build, so that a cross build configured with
# nothing but a compiler (as a packager's build system does) builds only the
# device programs, burnimg and lcrmerge:
#
#   DEVTOOLS_TESTS    AUTO: on when the build can run what it builds
#                     (natively, or through CMAKE_CROSSCOMPILING_EMULATOR)
#                     and lcrtool is not turned off; ON where the build
#                     cannot run them is an error, not a build that fails
#                     when test discovery runs a target program.
#   DEVTOOLS_LCRTOOL  AUTO: on natively and when the tests are on (they
#                     start it); a cross build has it only when asked.
#
# Sets devtools_tests and devtools_lcrtool (ON or OFF) for the rest of the
# build. DEVTOOLS_HOST_TOOLS, the older name of DEVTOOLS_LCRTOOL, is still
# read when given.
set(DEVTOOLS_TESTS AUTO CACHE STRING "Build the test suites: AUTO (when the build can run them), ON or OFF")
set(DEVTOOLS_LCRTOOL AUTO CACHE STRING "Build lcrtool: AUTO (natively, or for the tests), ON (in a cross build too: lcrtool for the device) or OFF")
set_property(CACHE DEVTOOLS_TESTS DEVTOOLS_LCRTOOL PROPERTY STRINGS AUTO ON OFF)

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
if(devtools_lcrtool STREQUAL "AUTO" AND DEFINED DEVTOOLS_HOST_TOOLS)
  choice_value(DEVTOOLS_HOST_TOOLS devtools_lcrtool)
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
elseif(devtools_tests AND NOT can_run)
  message(FATAL_ERROR "DEVTOOLS_TESTS=ON: the tests of a cross build run through an emulator; "
    "set CMAKE_CROSSCOMPILING_EMULATOR (for instance \"qemu-mipsel;-L;/usr/mipsel-linux-gnu\"), "
    "or DEVTOOLS_TESTS=OFF")
elseif(devtools_tests AND devtools_lcrtool STREQUAL "OFF")
  message(FATAL_ERROR "the tests start lcrtool: set DEVTOOLS_LCRTOOL=ON, or DEVTOOLS_TESTS=OFF")
endif()

if(devtools_lcrtool STREQUAL "AUTO")
  if(devtools_tests OR NOT CMAKE_CROSSCOMPILING)
    set(devtools_lcrtool ON)
  else()
    set(devtools_lcrtool OFF)
  endif()
endif()
