# SPDX-License-Identifier: MIT
# Failing allocations and writes in child programs: a library that
# run_program hands to the program with LD_PRELOAD (fault_shim.cpp). It
# passes every call on, so it is built without the sanitizers.
add_library(fault_shim SHARED ${CMAKE_CURRENT_LIST_DIR}/fault_shim.cpp)
target_compile_options(fault_shim PRIVATE -fno-sanitize=all)
target_link_options(fault_shim PRIVATE -fno-sanitize=all)
target_link_libraries(fault_shim PRIVATE ${CMAKE_DL_LIBS})
