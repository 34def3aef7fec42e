# ag_add_test(NAME name SOURCES ... LIBS ...)
# One GoogleTest program; every test case becomes its own CTest entry.
function(ag_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gmock_main Threads::Threads)
  # Test programs are mostly GoogleMock templates: without optimisation they
  # compile several times faster, which keeps the three CI builds short.
  target_compile_options(${T_NAME} PRIVATE -O0 -g1)
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()

# ag_add_suite_library(name SOURCES ... LIBS ...)
# A sibling library of the suite: shared, named lib<name>.so, exports only what
# its header marks AG_SUITE_EXPORT.
function(ag_add_suite_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${L_SOURCES})
  target_link_libraries(${name} PRIVATE ${L_LIBS})
endfunction()
