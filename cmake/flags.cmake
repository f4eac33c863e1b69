# SPDX-License-Identifier: MIT
# Compile and link settings shared by every target.
#
# devtools_program_flags(target): what the device programs and their
# libraries need: no exceptions, no RTTI, sections the linker can drop, and
# only the C library as a shared dependency.

add_compile_options(-Wall -Wextra)
if(DEVTOOLS_WERROR)
  add_compile_options(-Werror)
endif()

if(DEVTOOLS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(devtools_program_flags target)
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE
      -Wl,--gc-sections -Wl,--as-needed -static-libstdc++ -static-libgcc)
    if(DEVTOOLS_STATIC)
      target_link_options(${target} PRIVATE -static)
    endif()
  endif()
endfunction()
