# GoogleTest is built from source with the project's own compiler, so the
# same sources serve the native build and the MinGW-w64 cross build.
set(QUELLAN_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${QUELLAN_GOOGLETEST_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QUELLAN_GOOGLETEST_DIR}; "
                      "run scripts/setup.sh or set QUELLAN_GOOGLETEST_DIR")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUELLAN_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Registers a GoogleTest executable; tests are listed when ctest runs, so under
# Wine the emulator lists them too. Under Wine the tests need the fixture
# named by FIXTURE (default: wineprefix, the prepared prefix).
function(quellan_add_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FIXTURE" "")
  target_link_libraries(${target} PRIVATE GTest::gtest_main)
  set(extra)
  if(CMAKE_CROSSCOMPILING)
    if(NOT arg_FIXTURE)
      set(arg_FIXTURE wineprefix)
    endif()
    set(extra PROPERTIES FIXTURES_REQUIRED ${arg_FIXTURE})
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${extra}
                       ${arg_UNPARSED_ARGUMENTS})
endfunction()
