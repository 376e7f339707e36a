# Test helpers shared by both build trees.
#
#   ql_add_native_test(target sources... LIBS libs...)
#       a GoogleTest program of the native tree; every TEST is one CTest test.
#   ql_add_wine_test(target sources... LIBS libs... [GUI])
#       a GoogleTest program of the cross tree, run under Wine in the run's own
#       prefix; GUI tests hold the "desktop" lock so that only one at a time
#       owns the X server's focus.
include(GoogleTest)

if(QL_WINDOWS)
  # GoogleTest from Debian's sources, cross-built with the project's flags.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  set(QL_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
  configure_file(${CMAKE_SOURCE_DIR}/tools/wine/ql-wine.in ${CMAKE_BINARY_DIR}/ql-wine @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/ql-wine CACHE FILEPATH "" FORCE)

  if(BUILD_TESTING)
    add_test(NAME wine.setup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine/wine-session.sh start ${QL_WINE_STATE})
    add_test(NAME wine.cleanup COMMAND ${CMAKE_SOURCE_DIR}/tools/wine/wine-session.sh stop ${QL_WINE_STATE})
    set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine)
    set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

function(ql_add_native_test target)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${target} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  gtest_discover_tests(${target} TEST_PREFIX "native." DISCOVERY_TIMEOUT 60)
endfunction()

function(ql_add_wine_test target)
  cmake_parse_arguments(T "GUI" "" "LIBS" ${ARGN})
  add_executable(${target} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PRIVATE ${T_LIBS} gtest gmock)
  ql_check_imports(${target})
  # Test names are read from the sources, so that listing the tests needs no Wine.
  gtest_add_tests(TARGET ${target} SOURCES ${T_UNPARSED_ARGUMENTS} TEST_PREFIX "wine."
                  TEST_LIST tests)
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120)
  if(T_GUI)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK desktop)
  endif()
  # For further properties of the program's tests.
  set(${target}_TESTS ${tests} PARENT_SCOPE)
endfunction()

# ql_add_generated_cases(target generator [depends...]): runs a fixture
# generator (tools/<area>/make-<area>-fixtures.py OUTDIR) at build time into
# ${CMAKE_CURRENT_BINARY_DIR}/cases before `target` is built, and hands the
# target that folder as QL_CASES_DIR, as the test program sees it (under Wine
# through drive Z:). `depends`: further files the generator reads.
function(ql_add_generated_cases target generator)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(cases ${CMAKE_CURRENT_BINARY_DIR}/cases)
  add_custom_command(OUTPUT ${cases}/.done
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${cases}
    COMMAND ${Python3_EXECUTABLE} ${generator} ${cases}
    COMMAND ${CMAKE_COMMAND} -E touch ${cases}/.done
    DEPENDS ${generator} ${ARGN}
    COMMENT "Generating the cases of ${target}")
  add_custom_target(${target}_cases DEPENDS ${cases}/.done)
  add_dependencies(${target} ${target}_cases)
  if(QL_WINDOWS)
    target_compile_definitions(${target} PRIVATE QL_CASES_DIR="Z:${cases}")
  else()
    target_compile_definitions(${target} PRIVATE QL_CASES_DIR="${cases}")
  endif()
endfunction()
