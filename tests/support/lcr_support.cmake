# SPDX-License-Identifier: MIT
# The lcr test helpers that the test suites and the fuzz targets share: the
# image writer, the rule-set reader and the tree's invariants. They use no
# GoogleTest, so the fuzz build (which has none) compiles them too.
if(NOT TARGET lcr_test_support)
  add_library(lcr_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/image_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rule_set.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tree_invariants.cpp)
  target_include_directories(lcr_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(lcr_test_support PUBLIC lcrmerge_lib)
endif()
